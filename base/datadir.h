// Where the files installed beside the tools (the C runtime placement
// fragments) are found at run time.
#pragma once

#include <QString>

// The folder of mkld's shared files: share/mkld beside the running
// executable when that exists (the build tree), otherwise ../share/mkld
// from it (an installation under any prefix). No absolute path is built in,
// so an installed tree can be moved.
QString dataDir();
