#pragma once

// Asks the running instance to open its picker: the signal org.brisel.Ulvane.show on the path
// /org/brisel/Ulvane, on the session bus. Written against the socket directly, so `ulvane
// --show` costs a few milliseconds instead of loading the whole application.
namespace ShowRequest {

// Sends the signal and waits, at most `timeoutMs`, until the bus has taken it. False without a
// reachable session bus.
bool send(int timeoutMs = 2000);

} // namespace ShowRequest
