#pragma once

class LoginWindowController;

// What the sign-in window tells its owner, the application shell.
class LoginWindowControllerDelegate
{
public:
    virtual ~LoginWindowControllerDelegate() = default;

    // Called once, after a sign-in that the server accepted and whose credentials are
    // already stored. The controller is not touched after the call, so the delegate may
    // close and destroy it from here.
    virtual void loginWindowControllerDidAuthenticate(LoginWindowController* controller) = 0;

protected:
    LoginWindowControllerDelegate() = default;
    LoginWindowControllerDelegate(const LoginWindowControllerDelegate&) = default;
    LoginWindowControllerDelegate& operator=(const LoginWindowControllerDelegate&) = default;
};
