#pragma once

#include <string>

namespace qf {

/// Where the Help button looks for the manual.
struct ManualPlaces {
  std::string currentDirectory;    // the process's current directory
  std::string programDirectory;    // the directory of the running program
  std::string installedDirectory;  // the documentation folder of the build's install prefix
};

/// The manual's file name in each place.
inline constexpr char kManualName[] = "manual.html";

/// The first regular file among currentDirectory/manual.html,
/// programDirectory/manual.html (where the build puts it),
/// programDirectory/../share/doc/quillforge/manual.html (an installed tree
/// moved elsewhere) and installedDirectory/manual.html. When none exists,
/// currentDirectory/manual.html, so that the desktop reports it missing.
std::string findManual(const ManualPlaces& places);

/// The places for this process.
ManualPlaces manualPlaces();

}  // namespace qf
