#pragma once

#include "ui/MRTheme.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class LoginWindowControllerDelegate;
class MRButton;
class MRLabel;
class MRSpinnerView;
class MRTextField;
class QWidget;

// The sign-in window: server URL and API key, checked against the server's health
// endpoint, stored in the credential file once the server accepts them, then reported to
// the delegate, which replaces this window by the main one. A fresh controller, with empty
// fields, is made for every showing. Main thread only.
class LoginWindowController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoginWindowController)

public:
    explicit LoginWindowController(QObject* parent = nullptr);
    ~LoginWindowController() override;

    LoginWindowControllerDelegate* delegate() const { return m_delegate; }
    // Not owned: the delegate outlives the controller or is reset before it goes.
    void setDelegate(LoginWindowControllerDelegate* delegate) { m_delegate = delegate; }

    // The 460 × 460 window, owned by the controller.
    QWidget* window() const { return m_window.get(); }
    // Shows the window, raised and active, with the focus in the first empty field.
    void show();
    void close();

    // The "Sign In" action, also run by Return anywhere in the window.
    void loginClicked();
    // Shows the text in the danger colour and leaves the validating state.
    void showError(const QString& text);
    // The validating state: fields and button disabled, the spinner turning.
    void setLoading(bool loading);
    bool isLoading() const { return m_loading; }

    MRTextField* serverURLField() const { return m_serverURLField; }
    MRTextField* apiKeyField() const { return m_apiKeyField; }
    MRButton* loginButton() const { return m_loginButton; }
    MRSpinnerView* spinner() const { return m_spinner; }
    MRLabel* statusLabel() const { return m_statusLabel; }
    // The whole status text; the label shows at most two lines of it.
    QString statusText() const { return m_statusText; }

    // "Please enter a valid server URL (e.g. …)." with the same example server as the placeholder.
    static QString invalidURLMessage();

    static constexpr int kWindowSize = 460;
    static constexpr int kInset = 56;

private:
    void buildUI();
    MRLabel* fieldLabel(const QString& text);
    MRTextField* textField(bool secure, const QString& placeholder);
    void setStatus(const QString& text, const MRColor& color);
    void validationFinished(bool ok, const QString& error, const QString& serverURL, const QString& apiKey);

    std::unique_ptr<QWidget> m_window;
    LoginWindowControllerDelegate* m_delegate = nullptr;
    MRTextField* m_serverURLField = nullptr;
    MRTextField* m_apiKeyField = nullptr;
    MRButton* m_loginButton = nullptr;
    MRSpinnerView* m_spinner = nullptr;
    MRLabel* m_statusLabel = nullptr;
    QString m_statusText;
    bool m_loading = false;
    // The field that had the focus when validation began, given it back afterwards.
    QPointer<QWidget> m_focusBeforeLoading;
};
