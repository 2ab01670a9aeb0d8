#pragma once

// Asks the running instance to open its picker: the signal org.brisel.Ulvane.show on the path
// /org/brisel/Ulvane, on the session bus. Written against the socket directly, so `ulvane
// --show` costs a few milliseconds instead of loading the whole application.
#include <string>

namespace ShowRequest {

// Sends the signal and waits, at most `timeoutMs`, until the bus has taken it. False without a
// reachable session bus. A launcher's activation token, when there is one, travels as the
// signal's one string argument, so the picker may take the focus a Wayland compositor grants
// only to windows a user action started.
bool send(int timeoutMs = 2000, const std::string &activationToken = {});

// The token launchers and compositors hand a program they start (XDG_ACTIVATION_TOKEN), with
// which it may take the focus; empty without one.
std::string activationToken();

} // namespace ShowRequest
