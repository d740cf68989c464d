// Where the Windows tests find their own folder and the build's stand-ins.
#pragma once
#include <windows.h>

#include <string>

inline std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return Folder(path);
}
