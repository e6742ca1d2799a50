#pragma once

#include <QString>

// The version text of the running program: the version resource of its own file on Windows,
// the version the build was made with elsewhere (Linux executables carry no such resource).
QString ProgramVersionText();
