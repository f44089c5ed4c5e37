// The "#" notation of command codes, as typed by the operator or read from a display's settings file.
#include "FuzzSupport.h"

#include "DeviceControl.h"

namespace {

// Text that EncodeControlCode writes in a form DecodeControlCode reads back: no "#" of its own, and no
// control character right before a digit (its number would run on into the digit).
bool EncodesReversibly(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('#'))
            return false;
        if (text.at(i).unicode() <= 32 && i + 1 < text.size() && text.at(i + 1).isDigit() &&
            text.at(i + 1).unicode() < 128)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QString code = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = DecodeControlCode(code);
    FUZZ_CHECK(decoded.size() <= code.size(), QStringLiteral("decoding made the code longer"));
    // "##" stands for one "#" whatever surrounds it.
    QString doubled = code;
    doubled.replace(QLatin1Char('#'), QLatin1String("##"));
    FUZZ_CHECK(DecodeControlCode(doubled) == code, QStringLiteral("'#' doubled does not read back as '#'"));

    const QString encoded = EncodeControlCode(code);
    for (const QChar c : encoded)
        FUZZ_CHECK(c.unicode() > 32,
                   QStringLiteral("the encoded text holds the character %1").arg(c.unicode()));
    if (EncodesReversibly(code))
        FUZZ_CHECK(DecodeControlCode(encoded) == code,
                   QStringLiteral("'%1' does not read back").arg(encoded));
    FuzzResetGlobalState();
    return 0;
}
