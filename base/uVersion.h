// The reader's name, and its version as the build's project version gives it (CMakeLists.txt, project VERSION).
#pragma once

#include <QString>

// "1.0": the one version of the reader, vornak-tool, the about box and the Debian package.
QString ReaderVersion();
// "Vornak Reader 2026": the reader's name, the title of its windows and message boxes.
QString ReaderTitle();
