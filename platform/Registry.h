#pragma once

#include <string>

namespace palkor {

// The game's registry value HKEY_LOCAL_MACHINE\Software\Square Soft, Inc.\Final Fantasy
// VII\AppPath, as Wine keeps it: the prefix's system.reg ($WINEPREFIX, else ~/.wine),
// under the plain key or the Wow6432Node one. Empty when there is none.
std::string ReadGameAppPath();
// The same from a given system.reg text.
std::string FindGameAppPath(const std::string& systemReg);

// A Windows path (C:\Games\FF7\data\field) as a path of this system, through the Wine
// prefix's dosdevices links; empty when the drive is not mapped.
std::string WindowsPathToLocal(const std::string& windowsPath, const std::string& prefix);

// The Wine prefix in use: $WINEPREFIX, else ~/.wine.
std::string WinePrefix();

} // namespace palkor
