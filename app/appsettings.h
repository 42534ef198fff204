#ifndef QUILLON_APPSETTINGS_H
#define QUILLON_APPSETTINGS_H

#include <QString>

class QSettings;

// The texts the window keeps between runs, in "./setting.ini" in the current
// working directory (INI format, every value a string). The keys live here and
// nowhere else.
namespace AppSettings {

inline constexpr char kFileName[] = "./setting.ini";

inline constexpr char kSerialNumberKey[] = "section5/SN";
inline constexpr char kLogoKey[] = "section4/Logo";
inline constexpr char kCameraAddressKey[] = "section3/Cam_Addr";
inline constexpr char kCameraPortKey[] = "section6/IP_Port";
inline constexpr char kHexFileKey[] = "section10/FileAdd";
// How the upgrade talks to the bootloader, as chosen in the menu, each
// "true" or "false": erase only the pages the firmware needs (else the whole
// flash), read every block back, the bootloader at 115200 baud (else 57600).
inline constexpr char kErasePagesKey[] = "upgrade/ErasePages";
inline constexpr char kVerifyKey[] = "upgrade/Verify";
inline constexpr char kBootloaderBaudKey[] = "upgrade/BootloaderBaud";

// A settings object on "./setting.ini"; the caller owns it.
QSettings *open();

// Reads one text; a missing file or key gives an empty text.
QString read(QSettings &settings, const char *key);

// Stores one text at once: the file is written before this returns. False
// when it could not be written (a folder or file this user may not write).
bool store(const char *key, const QString &value);

// The settings file, as a full path for the user to read.
QString filePath();

} // namespace AppSettings

#endif // QUILLON_APPSETTINGS_H
