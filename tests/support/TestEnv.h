#pragma once

#include <QString>

namespace vorlin::test {

// The temporary folder that stands in for HOME during the running test. Created fresh for
// every test and removed after it; XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME point
// inside it, so nothing a test does can reach the real user's files.
QString testHome();

} // namespace vorlin::test
