// The two privacy permissions: observing/posting input, and capturing the screen.
#pragma once

#include <string>

namespace tapforge::platform {

enum class Prompt { no, yes };

class Permissions {
public:
    virtual ~Permissions() = default;
    // May this process observe and post input events? With Prompt::yes the system may ask the user.
    virtual bool inputTrusted(Prompt prompt) = 0;
    // May this process capture the screen, without asking.
    virtual bool screenCapturePreflight() = 0;
    // Asks for screen capture where the system has something to ask; answers the result.
    virtual bool screenCaptureRequest() = 0;

    enum class Kind { input, screenCapture };
    // Why `kind` is not available, in the user's language, for the permission alerts; empty
    // when the platform has nothing to say beyond the plain answer.
    virtual std::string missingExplanation(Kind kind) { (void)kind; return {}; }
};

}  // namespace tapforge::platform
