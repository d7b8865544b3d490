#pragma once

#include <QString>

#include <functional>

// Where the window's messages to the operator go: a modal box in the running
// panel, a recorder in tests. text is the fixed message; detail, when not
// empty, is the smaller explanation under it (device and the system's reason).
using MessageSink = std::function<void(const QString& text, const QString& detail)>;
