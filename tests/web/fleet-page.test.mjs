// Drives the fleet page in Debian's headless Chromium: both kiosks shown, the one in trouble first; a stop sent
// to k2's first display is answered on the page. Exits non-zero on any failure.
import puppeteer from "puppeteer-core";

const url = process.argv[2];
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--allow-file-access-from-files"],
});
let failed = false;
function check(condition, message) {
  if (!condition) {
    console.error("FAIL: " + message);
    failed = true;
  }
}
try {
  const page = await browser.newPage();
  page.on("pageerror", (error) => { console.error("page error: " + error.message); failed = true; });
  await page.goto(url);
  await page.waitForFunction(() => document.querySelectorAll("section.kiosk").length === 2 &&
                                   document.querySelectorAll("tr[data-display]").length === 4,
                             {timeout: 20000});
  const kiosks = await page.$$eval("section.kiosk", (boxes) => boxes.map((b) => b.dataset.kiosk));
  check(JSON.stringify(kiosks) === JSON.stringify(["lyon/k2", "lyon/k1"]), "kiosks in trouble-first order: " + kiosks);
  const badges = await page.$$eval("section.kiosk .badge", (badges) => badges.map((b) => b.textContent));
  check(badges.every((b) => b === "up"), "both kiosks up: " + badges);
  const k2Rows = await page.$$eval('section[data-kiosk="lyon/k2"] tr[data-display]', (rows) => rows.map((r) => r.dataset.display));
  check(k2Rows[0] === "lyon/k2/2", "the switched-off display first: " + k2Rows);

  await page.click('tr[data-display="lyon/k2/1"] button[data-command="stop"]');
  await page.waitForFunction(() => [...document.querySelectorAll("#answers li")]
                                     .some((li) => li.textContent.startsWith("k2: stop done")),
                             {timeout: 10000});
  const answer = await page.$eval('section[data-kiosk="lyon/k2"] .answer', (a) => a.textContent);
  check(answer.startsWith("stop: simulated stop"), "the answer beside its kiosk: " + answer);
  // The kiosk's display status follows: nothing plays on it any more.
  await page.waitForFunction(() => {
    const row = document.querySelector('tr[data-display="lyon/k2/1"]');
    return row && row.children[3].textContent === "nothing";
  }, {timeout: 10000});
} catch (error) {
  console.error("FAIL: " + error.message);
  failed = true;
} finally {
  await browser.close();
}
process.exit(failed ? 1 : 0);
