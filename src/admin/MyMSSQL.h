#pragma once

// Server operations on whole databases, each in its own header; this one gathers them for code
// written before they were split. New code includes the header of the operation it uses.
#include "AttachDetach.h"
#include "DatabaseBackup.h"
#include "DatabaseRestore.h"
#include "ServerPaths.h"
#include "ServerProgress.h"
