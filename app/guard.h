#pragma once
#include <functional>

namespace tevrin {

// Runs one handler. An error that leaves it is shown in the general error
// display and the tool carries on with the next event.
void RunGuarded(const std::function<void()>& handler);

}  // namespace tevrin
