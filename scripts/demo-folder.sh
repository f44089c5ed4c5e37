# Sourced by the scripts that run the program on the bundled demo content.
# demo_content: prints the folder of the demo's content, build/demo-content: scripts/demo/Cache with the video
# of the demo's video slide, which scripts/make-clip.sh makes (with ffmpeg) the first time.
demo_content() {
  local content=build/demo-content
  mkdir -p "$content"
  cp -rf scripts/demo/Cache/. "$content/"
  local clip=$content/Video/media/testcard.mp4
  [ -s "$clip" ] || bash scripts/make-clip.sh --size 1280x720 --seconds 6 "$clip" >&2
  echo "$content"
}

# lay_out_demo_folder <folder> <program>: the program, the demo's slide types, cached content and schedule (a
# play action at midnight every day, due as soon as the schedule starts) in an application folder.
lay_out_demo_folder() {
  local folder=$1 program=$2
  mkdir -p "$folder/Cache" "$folder/Devices" "$folder/Templates"
  cp -f "$program" "$folder/"
  cp -rf scripts/demo/Templates/. "$folder/Templates/"
  local content
  content=$(demo_content)
  cp -rf "$content/." "$folder/Cache/"
  cp -f scripts/demo/Schedule.xml "$folder/Schedule.xml"
  # What an earlier run recorded as run today would keep the play action from running again: a second demo
  # the same day would show nothing.
  rm -f "$folder/ScheduleState.xml"
}

# write_demo_settings <folder> [server base URL]: VitrelleCenter.xml with the folder's own paths and, when
# given, the content server's addresses.
write_demo_settings() {
  local folder=$1 server=${2:-}
  local http="<AuthentificationURL/><VitrelleListURL/><VitrelleURL/><MediaURL/><Login/><Password/>"
  if [ -n "$server" ]; then
    http="<AuthentificationURL>$server/login?user=%s&amp;password=%s</AuthentificationURL><VitrelleListURL>$server/list/VitrelleList.xml</VitrelleListURL><VitrelleURL>$server/vitrelles/%s.xml</VitrelleURL><MediaURL>$server/media/%s</MediaURL><Login>operator</Login><Password>secret</Password>"
  fi
  cat > "$folder/VitrelleCenter.xml" <<XML
<VitrelleCenter><DevicePath>$folder/Devices</DevicePath><RepositoryPath>$folder/Cache</RepositoryPath><TemplatePath>$folder/Templates</TemplatePath><VitrelleListFilePath/><TypeFilePath/><HttpSettings>$http</HttpSettings><VitrelleAutoUpdate>0</VitrelleAutoUpdate><VitrelleUpdateTime Periodicity="3" Time="00:00:00"/></VitrelleCenter>
XML
  chmod 600 "$folder/VitrelleCenter.xml"
}
