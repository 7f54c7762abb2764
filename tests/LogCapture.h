#pragma once

#include <functional>
#include <string>

namespace testsupport {

// What `action` writes to standard error, where the system log goes in these builds.
std::string CaptureStandardError(const std::function<void()>& action);

} // namespace testsupport
