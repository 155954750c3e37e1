#include "server/LoginWindowController.h"

#include "server/APIManager.h"
#include "server/LoginWindowControllerDelegate.h"
#include "stores/KeychainHelper.h"
#include "ui/MRButton.h"
#include "ui/MRContentRootView.h"
#include "ui/MRDotGridView.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTextField.h"

#include <QApplication>
#include <QGridLayout>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// A fictitious server, shown as the example in the URL field and in the invalid-URL sentence.
const char* const kExampleServerURL = "https://mirelo.example.com";

constexpr int kContentWidth = LoginWindowController::kWindowSize - 2 * LoginWindowController::kInset;
constexpr int kStatusLines = 2;

// The window's background: the palette's window colour, and a press on it moves the
// window where the window system lets an application start a move.
class LoginWindow final : public MRContentRootView
{
public:
    LoginWindow() = default;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
            event->accept();
            return;
        }
        MRContentRootView::mousePressEvent(event);
    }
};

// The text in lines of at most the given width, broken at spaces only, so that an address
// in the text stays whole; after maxLines the last line ends in an ellipsis, as does a
// single word too wide for a line. Sets cut when anything was left out.
QString fitToLines(const QString& text, const QFont& font, qreal width, int maxLines, bool& cut)
{
    const QFontMetricsF metrics(font);
    QStringList lines;
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.constLast() + QLatin1Char(' ') + word) <= width)
            lines.last() += QLatin1Char(' ') + word;
        else
            lines.append(word);
    }
    cut = lines.size() > maxLines;
    if (cut) {
        const QString rest = lines.mid(maxLines - 1).join(QLatin1Char(' '));
        lines = lines.mid(0, maxLines - 1);
        lines.append(rest);
    }
    const QString ellipsis(QChar(0x2026));
    for (QString& line : lines) {
        if (metrics.horizontalAdvance(line) <= width)
            continue;
        while (!line.isEmpty() && metrics.horizontalAdvance(line + ellipsis) > width)
            line.chop(1);
        line = line.trimmed() + ellipsis;
        cut = true;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

LoginWindowController::LoginWindowController(QObject* parent) : QObject(parent)
{
    buildUI();
}

LoginWindowController::~LoginWindowController() = default;

QString LoginWindowController::invalidURLMessage()
{
    return tr("Please enter a valid server URL (e.g. %1).").arg(QLatin1String(kExampleServerURL));
}

MRLabel* LoginWindowController::fieldLabel(const QString& text)
{
    auto* label = new MRLabel(text);
    label->setFont(MRTheme::uiFont(12, QFont::Medium));
    label->setTextColor(MRTheme::textSecondary());
    return label;
}

MRTextField* LoginWindowController::textField(bool secure, const QString& placeholder)
{
    auto* field = new MRTextField;
    field->setPlaceholderText(placeholder);
    field->setFixedHeight(30);
    if (secure) {
        field->setEchoMode(QLineEdit::Password);
        field->setFont(MRTheme::monoFont(13));
    }
    // A pasted value keeps no formatting and no input method guesses at a key.
    field->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText |
                               (secure ? Qt::ImhSensitiveData | Qt::ImhHiddenText : Qt::ImhUrlCharactersOnly));
    return field;
}

void LoginWindowController::buildUI()
{
    m_window = std::make_unique<LoginWindow>();
    QWidget* window = m_window.get();
    window->setWindowTitle(QStringLiteral("Mirelo"));
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window->setFixedSize(kWindowSize, kWindowSize);

    auto* stack = new QGridLayout(window);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(new MRDotGridView, 0, 0);
    auto* content = new QWidget;
    stack->addWidget(content, 0, 0);

    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(kInset, 54, kInset, 0);
    column->setSpacing(0);

    column->addWidget(MRStyleKit::sparkleViewOfSize(40), 0, Qt::AlignHCenter);
    column->addSpacing(14);

    auto* title = new MRLabel(QStringLiteral("Mirelo"));
    title->setFont(MRTheme::serifDisplayFont(30, QFont::Bold));
    title->setTextColor(MRTheme::textPrimary());
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    column->addSpacing(6);

    auto* subtitle = new MRLabel(tr("Natural language to SQL, instantly."));
    subtitle->setFont(MRTheme::uiFont(13));
    subtitle->setTextColor(MRTheme::textSecondary());
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addSpacing(30);

    column->addWidget(fieldLabel(tr("Server URL")));
    column->addSpacing(6);
    m_serverURLField = textField(false, QLatin1String(kExampleServerURL));
    // The captions are separate labels; assistive technology reads the fields by these.
    m_serverURLField->setAccessibleName(tr("Server URL"));
    column->addWidget(m_serverURLField);
    column->addSpacing(16);

    column->addWidget(fieldLabel(tr("API Key")));
    column->addSpacing(6);
    m_apiKeyField = textField(true, QStringLiteral("mirelo_…"));
    m_apiKeyField->setAccessibleName(tr("API Key"));
    column->addWidget(m_apiKeyField);
    column->addSpacing(26);

    m_loginButton = MRStyleKit::primaryButtonWithTitle(tr("Sign In"), this, [this] { loginClicked(); });
    m_loginButton->setFixedHeight(36);
    column->addWidget(m_loginButton);
    column->addSpacing(14);

    m_spinner = new MRSpinnerView;
    // A stopped spinner is hidden but keeps its place, so the status line never moves.
    QSizePolicy keepPlace = m_spinner->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_spinner->setSizePolicy(keepPlace);
    column->addWidget(m_spinner, 0, Qt::AlignHCenter);
    column->addSpacing(8);

    m_statusLabel = new MRLabel;
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setFont(MRTheme::uiFont(11.5));
    m_statusLabel->setTextColor(MRTheme::danger());
    m_statusLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Wrapped by fitToLines, which keeps addresses whole.
    m_statusLabel->setWordWrap(false);
    m_statusLabel->setFixedHeight(kStatusLines * QFontMetrics(m_statusLabel->font()).lineSpacing());
    column->addWidget(m_statusLabel);
    column->addStretch();

    QWidget::setTabOrder(m_serverURLField, m_apiKeyField);
    QWidget::setTabOrder(m_apiKeyField, m_loginButton);

    // Return is the button's key equivalent: it signs in from anywhere in the window.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window);
        connect(shortcut, &QShortcut::activated, this, &LoginWindowController::loginClicked);
    }

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.x() + (available.width() - kWindowSize) / 2,
                     available.y() + (available.height() - kWindowSize) / 2);
    }
}

void LoginWindowController::show()
{
    // A window shown for the first time opens on top; one already open is brought there.
    const bool wasVisible = m_window->isVisible();
    m_window->show();
    if (wasVisible)
        m_window->raise();
    m_window->activateWindow();
    if (!m_window->focusWidget())
        m_serverURLField->setFocus(Qt::OtherFocusReason);
}

void LoginWindowController::close()
{
    m_window->close();
}

void LoginWindowController::setStatus(const QString& text, const MRColor& color)
{
    m_statusText = text;
    bool cut = false;
    const QString shown = fitToLines(text, m_statusLabel->font(), kContentWidth, kStatusLines, cut);
    m_statusLabel->setTextColor(color);
    m_statusLabel->setText(shown);
    m_statusLabel->setToolTip(cut ? text : QString());
}

void LoginWindowController::showError(const QString& text)
{
    setStatus(text, MRTheme::danger());
    setLoading(false);
}

void LoginWindowController::setLoading(bool loading)
{
    if (loading && !m_loading)
        m_focusBeforeLoading = m_window->focusWidget();
    m_loading = loading;
    m_serverURLField->setEnabled(!loading);
    m_apiKeyField->setEnabled(!loading);
    m_loginButton->setEnabled(!loading);
    if (loading) {
        m_spinner->startAnimation();
        return;
    }
    m_spinner->stopAnimation();
    // Disabling the fields took the focus away; the user goes on where they were.
    if (m_focusBeforeLoading && !m_window->focusWidget())
        m_focusBeforeLoading->setFocus(Qt::OtherFocusReason);
    m_focusBeforeLoading.clear();
}

void LoginWindowController::loginClicked()
{
    // Return still reaches the window while the controls are disabled.
    if (m_loading)
        return;
    const QString serverURL = m_serverURLField->text().trimmed();
    const QString apiKey = m_apiKeyField->text().trimmed();
    if (serverURL.isEmpty() || apiKey.isEmpty()) {
        showError(tr("Please enter both server URL and API key."));
        return;
    }
    // Refused before the form goes further: a line break would start a header of its own.
    if (const QString unsendable = APIManager::credentialsError(serverURL, apiKey); !unsendable.isEmpty()) {
        showError(unsendable);
        return;
    }
    const QUrl url(serverURL);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        showError(invalidURLMessage());
        return;
    }

    setLoading(true);
    setStatus(tr("Validating credentials…"), MRTheme::textSecondary());
    APIManager& api = APIManager::shared();
    api.setServerURL(serverURL);
    api.setApiKey(apiKey);
    // The window may be gone when the answer comes; then nothing is stored.
    const QPointer<LoginWindowController> self(this);
    api.validateKey([self, serverURL, apiKey](bool ok, const QString& error) {
        if (self)
            self->validationFinished(ok, error, serverURL, apiKey);
    });
}

void LoginWindowController::validationFinished(bool ok, const QString& error, const QString& serverURL,
                                               const QString& apiKey)
{
    if (!ok) {
        showError(error.isEmpty() ? tr("Failed to connect to server.") : error);
        return;
    }
    KeychainHelper::saveAPIKey(apiKey, serverURL);
    // Stays in the validating state: the shell closes the window, perhaps from within this call.
    if (m_delegate)
        m_delegate->loginWindowControllerDidAuthenticate(this);
}
