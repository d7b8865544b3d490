#pragma once

#include <QString>

// The words of libmosquitto and of an MQTT broker's answer, for the
// operator: what Mqtt's network thread says when a connect fails.
namespace mqttwords {

// libmosquitto's text for a result code, without its closing full stop.
QString libraryText(int rc);
// What the broker's answer to a connect means ("it refused the login...").
QString connackText(int rc);
// Whether that answer turns the login down, which no retry can mend.
bool isLoginRefusal(int rc);

} // namespace mqttwords
