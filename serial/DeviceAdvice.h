#pragma once

#include "serial/LineSettings.h"

#include <QString>

// What a local serial device cannot do, and what the operator can do about
// a device that will not open: text to add to the reason, kept apart from
// the line itself so that every kind of device gives the same advice.

// Why this system's serial drivers cannot run settings, before any device
// is asked; empty when they can. A dry run checks with it too.
QString deviceSettingsRefusal(const LineSettings& settings);

// Added to the reason when device exists but the user may not open it and
// a group grants that access: how to join the group, and that it takes a new
// login. Empty otherwise (the device is missing, open to the user already,
// or no group would help).
QString permissionHint(const QString& device);

// The advice itself, for a device that group may open.
QString joinGroupAdvice(const QString& group);
