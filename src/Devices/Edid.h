#pragma once

#include <QByteArray>
#include <QString>

class IDisplaySystem;

// The EDID block of a monitor, decoded by the program itself. Nothing is validated (header, checksum,
// version): a display that reports a damaged block is still identified by whatever its bytes say.

// The EDID buffer of the identity logic: the base block and its first extension.
constexpr qsizetype EDIDSize = 256;

// Exactly EDIDSize bytes: the first EDIDSize bytes of the data, zero-filled when it is shorter.
QByteArray EDIDBuffer(const QByteArray& data);

// The three letters of bytes 8 and 9 (five bits each, 1 = A); a zero field gives '@'.
QString EDIDManufacturer(const QByteArray& edid);
// The text of the first of the four descriptor blocks (offsets 54, 72, 90, 108) that holds the four tag bytes
// anywhere in its 18 bytes: its bytes 4 to 17 without trailing bytes of 32 or less and without one leading
// NUL, one character per byte. Empty when no block holds the tag.
QString EDIDDescriptorText(const QByteArray& edid, const QByteArray& tag);
// Each byte of the EDIDSize-byte buffer as 16 upper-case hex digits.
QString EDIDToHex(const QByteArray& edid);

// The VESA id of a monitor: manufacturer letters and product code (bytes 10 and 11, little-endian) as four
// upper-case hex digits, for example ABC0A2F; Default_Monitor when there is no EDID or its manufacturer is
// not three letters A to Z.
QString VesaIdFromEDID(const QByteArray& edid);

// The EDID the system keeps for the monitor, as an EDIDSize-byte buffer; all zero when it keeps none.
// A longer EDID (TVs with extension blocks) gives its first EDIDSize bytes.
QByteArray ReadEDID(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId);
