#include "db/ConnectionSheetController.h"

#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "db/MRConnRowView.h"
#include "ui/MRButton.h"
#include "ui/MRCardView.h"
#include "ui/MRContentRootView.h"
#include "ui/MRFieldStyle.h"
#include "ui/MRLabel.h"
#include "ui/MRSeparatorView.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QShortcut>
#include <algorithm>
#include <limits>

namespace {

constexpr int kMargin = 20;
constexpr int kTitleTop = 18;
constexpr int kListTopGap = 14;
constexpr int kListWidth = 200;
constexpr int kListInset = 4;
constexpr int kListBottomGap = 6;
constexpr int kSmallButtonWidth = 28;
constexpr int kSmallButtonHeight = 24;
constexpr int kSmallButtonGap = 4;
constexpr int kSeparatorGap = 12;
constexpr int kLabelLeading = 236;
constexpr int kLabelWidth = 74;
constexpr int kFieldGap = 10;
constexpr int kFieldHeight = 24;
constexpr int kFirstRowGap = 18;
constexpr int kRowGap = 14;
constexpr int kSpinnerGap = 10;
constexpr int kStatusGap = 8;
constexpr int kStatusTrailingGap = 10;
constexpr int kBottomButtonGap = 8;
constexpr int kDoneMinWidth = 64;
constexpr int kSaveMinWidth = 72;

const QString kPostgreSQL = QStringLiteral("postgresql");
const QString kMySQL = QStringLiteral("mysql");
constexpr int kIdRole = Qt::UserRole;

// The whole number the text holds, blanks around it allowed; nullopt for anything else,
// signs, blanks inside and trailing letters included.
std::optional<qint64> wholeNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok);
    // Too many digits for any integer is still a number, just far too large.
    return ok ? value : std::numeric_limits<qint64>::max();
}

// The port the field names, 0 for an empty field, or nullopt for anything that is not a
// whole number from 1 to 65535.
std::optional<qint64> parsePort(const QString& text)
{
    if (text.trimmed().isEmpty())
        return 0;
    const std::optional<qint64> value = wholeNumber(text);
    if (!value || *value < 1 || *value > 65535)
        return std::nullopt;
    return value;
}

} // namespace

ConnectionSheetController::ConnectionSheetController(QObject* parent) : QObject(parent) {}

ConnectionSheetController::~ConnectionSheetController()
{
    delete m_sheet.data();
}

void ConnectionSheetController::beginSheetModalForWindow(QWidget* parent)
{
    if (m_sheet)
        return;
    m_parentWindow = parent ? parent->window() : nullptr;
    buildSheet(m_parentWindow);
    reloadList();
    selectFirstOrClear();
    m_sheet->open();
}

void ConnectionSheetController::buildSheet(QWidget* parent)
{
    m_sheet = new QDialog(parent);
    m_sheet->setWindowTitle(tr("Database Connections"));
    m_sheet->setWindowModality(Qt::WindowModal);
    m_sheet->setFixedSize(kWidth, kHeight);
    m_root = new MRContentRootView(m_sheet);

    m_titleLabel = new MRLabel(tr("Database Connections"), m_root);
    m_titleLabel->setFont(MRTheme::uiFont(15, QFont::DemiBold));
    m_titleLabel->setTextColor(MRTheme::textPrimary());

    m_listCard = MRStyleKit::cardView();
    m_listCard->setParent(m_root);
    m_listTable = new QListWidget(m_listCard);
    m_listTable->setAccessibleName(tr("Connections"));
    m_listTable->setItemDelegate(new MRConnRowView(m_listTable));
    m_listTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listTable->setFrameShape(QFrame::NoFrame);
    m_listTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listTable->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_listTable->setUniformItemSizes(true);
    m_listTable->setTextElideMode(Qt::ElideRight);
    // The card shows through: neither the list nor its viewport paints a background.
    m_listTable->setAutoFillBackground(false);
    m_listTable->viewport()->setAutoFillBackground(false);
    connect(m_listTable, &QListWidget::itemSelectionChanged, this, &ConnectionSheetController::selectionChanged);

    m_addButton =
        MRStyleKit::iconButtonWithSymbol(QStringLiteral("plus"), tr("Add connection"), this, [this] { addClicked(); });
    m_removeButton = MRStyleKit::iconButtonWithSymbol(QStringLiteral("minus"), tr("Remove connection"), this,
                                                      [this] { removeClicked(); });
    for (MRButton* button : {m_addButton, m_removeButton}) {
        button->setParent(m_root);
        button->setFixedSize(kSmallButtonWidth, kSmallButtonHeight);
    }

    m_nameField = formField(false);
    m_nameField->setPlaceholderText(tr("My Database"));
    m_typePopup = new QComboBox(m_root);
    m_typePopup->setFont(MRTheme::uiFont(13));
    MRFieldStyle::apply(m_typePopup);
    m_typePopup->addItems({tr("PostgreSQL"), tr("MySQL")});
    connect(m_typePopup, &QComboBox::activated, this, &ConnectionSheetController::typeChanged);
    m_formFields.append(m_typePopup);
    m_hostField = formField(false);
    m_hostField->setPlaceholderText(QStringLiteral("localhost"));
    m_portField = formField(false);
    m_portField->setPlaceholderText(QStringLiteral("5432"));
    m_databaseField = formField(false);
    m_usernameField = formField(false);
    m_passwordField = formField(true);

    const QStringList labels{tr("Name"),     tr("Type"),     tr("Host"),    tr("Port"),
                             tr("Database"), tr("Username"), tr("Password")};
    for (int i = 0; i < labels.size(); ++i) {
        MRLabel* label = formLabel(labels.at(i));
        label->setBuddy(m_formFields.at(i));
        m_formFields.at(i)->setAccessibleName(labels.at(i));
    }

    m_sslCheckbox = new QCheckBox(tr("Use SSL"), m_root);
    m_sslCheckbox->setFont(MRTheme::uiFont(13));
    MRFieldStyle::apply(m_sslCheckbox);

    m_separator = new MRSeparatorView(m_root);

    m_testButton = MRStyleKit::ghostButtonWithTitle(tr("Test Connection"), this, [this] { testClicked(); });
    m_spinner = new MRSpinnerView(m_root);
    m_statusLabel = new MRLabel(QString(), m_root);
    m_statusLabel->setFont(MRTheme::uiFont(11.5));
    m_statusLabel->setTextColor(MRTheme::textSecondary());
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_saveButton = MRStyleKit::primaryButtonWithTitle(tr("Save"), this, [this] { saveClicked(); });
    m_doneButton = MRStyleKit::ghostButtonWithTitle(tr("Done"), this, [this] { doneClicked(); });
    for (MRButton* button : {m_testButton, m_saveButton, m_doneButton})
        button->setParent(m_root);

    // Return saves and Escape closes from anywhere in the sheet, as the default and
    // cancel buttons of a sheet do; Space presses the focused button.
    const auto shortcut = [this](const QKeySequence& keys, void (ConnectionSheetController::*action)()) {
        auto* key = new QShortcut(keys, m_sheet);
        connect(key, &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence(Qt::Key_Return), &ConnectionSheetController::saveClicked);
    shortcut(QKeySequence(Qt::Key_Enter), &ConnectionSheetController::saveClicked);
    shortcut(QKeySequence(Qt::Key_Escape), &ConnectionSheetController::doneClicked);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_T), &ConnectionSheetController::testClicked);

    QList<QWidget*> order{m_listTable, m_addButton, m_removeButton};
    order += m_formFields;
    order += {m_sslCheckbox, m_testButton, m_saveButton, m_doneButton};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));

    // Queued, so that the delegate hears of the end once the sheet is out of the way and
    // may delete this controller without pulling the dialog out from under its own signal.
    connect(m_sheet, &QDialog::finished, this, &ConnectionSheetController::sheetDidEnd, Qt::QueuedConnection);

    layoutSheet();
}

MRLabel* ConnectionSheetController::formLabel(const QString& text)
{
    auto* label = new MRLabel(text, m_root);
    label->setFont(MRTheme::uiFont(12.5, QFont::Medium));
    label->setTextColor(MRTheme::textSecondary());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_formLabels.append(label);
    return label;
}

QLineEdit* ConnectionSheetController::formField(bool secure)
{
    auto* field = new QLineEdit(m_root);
    field->setFont(MRTheme::uiFont(13));
    MRFieldStyle::apply(field);
    // A little air between the bezel and the text, as a rounded text field has.
    field->setTextMargins(3, 0, 3, 0);
    if (secure)
        field->setEchoMode(QLineEdit::Password);
    m_formFields.append(field);
    return field;
}

void ConnectionSheetController::layoutSheet()
{
    const QSize title = m_titleLabel->sizeHint();
    m_titleLabel->setGeometry(kMargin, kTitleTop, title.width(), title.height());
    const int titleBottom = kTitleTop + title.height();

    // The bottom row hangs from the bottom edge; the separator, the small buttons and the
    // list's card stack upwards from it.
    const int buttonHeight = m_saveButton->height();
    const int buttonTop = kHeight - kMargin - buttonHeight;
    const int doneWidth = qMax(kDoneMinWidth, m_doneButton->sizeHint().width());
    const int saveWidth = qMax(kSaveMinWidth, m_saveButton->sizeHint().width());
    const int doneLeft = kWidth - kMargin - doneWidth;
    const int saveLeft = doneLeft - kBottomButtonGap - saveWidth;
    m_doneButton->setGeometry(doneLeft, buttonTop, doneWidth, buttonHeight);
    m_saveButton->setGeometry(saveLeft, buttonTop, saveWidth, buttonHeight);
    const int testWidth = m_testButton->sizeHint().width();
    m_testButton->setGeometry(kMargin, buttonTop, testWidth, m_testButton->height());
    const int centreY = buttonTop + buttonHeight / 2;
    const int spinnerLeft = kMargin + testWidth + kSpinnerGap;
    m_spinner->move(spinnerLeft, centreY - m_spinner->height() / 2);
    const int statusLeft = spinnerLeft + m_spinner->width() + kStatusGap;
    const int statusHeight = QFontMetrics(m_statusLabel->font()).height();
    m_statusLabel->setGeometry(statusLeft, centreY - statusHeight / 2,
                               qMax(0, saveLeft - kStatusTrailingGap - statusLeft), statusHeight);

    const int separatorTop = buttonTop - kSeparatorGap - 1;
    m_separator->setGeometry(kMargin, separatorTop, kWidth - 2 * kMargin, 1);
    const int smallTop = separatorTop - kSeparatorGap - kSmallButtonHeight;
    m_addButton->move(kMargin, smallTop);
    m_removeButton->move(kMargin + kSmallButtonWidth + kSmallButtonGap, smallTop);

    const int cardTop = titleBottom + kListTopGap;
    m_listCard->setGeometry(kMargin, cardTop, kListWidth, smallTop - kListBottomGap - cardTop);
    m_listTable->setGeometry(m_listCard->rect().adjusted(kListInset, kListInset, -kListInset, -kListInset));

    // Each field is centred on its label; the next label starts 14 below the field.
    const int fieldLeft = kLabelLeading + kLabelWidth + kFieldGap;
    const int fieldWidth = kWidth - kMargin - fieldLeft;
    int labelTop = titleBottom + kFirstRowGap;
    int fieldBottom = labelTop;
    for (int i = 0; i < m_formLabels.size(); ++i) {
        MRLabel* label = m_formLabels.at(i);
        QWidget* field = m_formFields.at(i);
        const int labelHeight = label->sizeHint().height();
        label->setGeometry(kLabelLeading, labelTop, kLabelWidth, labelHeight);
        const int fieldHeight = field == m_typePopup ? field->sizeHint().height() : kFieldHeight;
        const int fieldTop = labelTop + (labelHeight - fieldHeight) / 2;
        field->setGeometry(fieldLeft, fieldTop, fieldWidth, fieldHeight);
        fieldBottom = fieldTop + fieldHeight;
        labelTop = fieldBottom + kRowGap;
    }
    const QSize ssl = m_sslCheckbox->sizeHint();
    m_sslCheckbox->setGeometry(fieldLeft, fieldBottom + kRowGap, ssl.width(), ssl.height());
    m_root->setGeometry(0, 0, kWidth, kHeight);
}

QString ConnectionSheetController::selectedType() const
{
    return m_typePopup && m_typePopup->currentIndex() == 1 ? kMySQL : kPostgreSQL;
}

void ConnectionSheetController::reloadList()
{
    if (!m_sheet)
        return;
    // Rebuilding is not a choice of the user's; the caller selects afterwards.
    const QSignalBlocker quiet(m_listTable);
    m_listTable->clear();
    for (const DatabaseConnection& connection : ConnectionManager::shared().connections()) {
        auto* item = new QListWidgetItem(connection.name.isEmpty() ? tr("(unnamed)") : connection.name);
        item->setData(kIdRole, connection.connectionId);
        item->setSizeHint(QSize(0, MRConnRowView::kRowHeight + MRConnRowView::kRowSpacing));
        m_listTable->addItem(item);
    }
}

int ConnectionSheetController::selectedRow() const
{
    const QList<QListWidgetItem*> selected = m_listTable->selectedItems();
    return selected.isEmpty() ? -1 : m_listTable->row(selected.first());
}

void ConnectionSheetController::selectRow(int row)
{
    {
        const QSignalBlocker quiet(m_listTable);
        m_listTable->selectionModel()->clear();
        if (row >= 0 && row < m_listTable->count())
            m_listTable->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    }
    // Also when the row was selected already, the form shows it afresh.
    selectionChanged();
}

void ConnectionSheetController::selectionChanged()
{
    const int row = selectedRow();
    const QList<DatabaseConnection> connections = ConnectionManager::shared().connections();
    if (row >= 0 && row < connections.size())
        populateFormWithConnection(connections.at(row));
    m_removeButton->setEnabled(row >= 0);
}

void ConnectionSheetController::selectFirstOrClear()
{
    if (!m_sheet)
        return;
    const bool any = !ConnectionManager::shared().connections().isEmpty();
    if (any)
        selectRow(0);
    else
        clearForm();
    m_removeButton->setEnabled(any);
}

void ConnectionSheetController::populateFormWithConnection(const DatabaseConnection& connection)
{
    if (!m_sheet)
        return;
    m_editingConnectionId = connection.connectionId;
    m_nameField->setText(connection.name);
    m_hostField->setText(connection.host);
    m_databaseField->setText(connection.database);
    m_usernameField->setText(connection.username);
    m_passwordField->setText(connection.password);
    m_typePopup->setCurrentIndex(connection.type == kMySQL ? 1 : 0);
    m_portField->setText(QString::number(connection.port));
    m_sslCheckbox->setChecked(connection.ssl);
    setStatus(QString(), Status::Progress);
}

void ConnectionSheetController::clearForm()
{
    if (!m_sheet)
        return;
    m_editingConnectionId.reset();
    for (QLineEdit* field : {m_nameField, m_hostField, m_databaseField, m_usernameField, m_passwordField})
        field->clear();
    m_typePopup->setCurrentIndex(0);
    m_portField->setText(QString::number(DatabaseConnection::defaultPortForType(kPostgreSQL)));
    m_sslCheckbox->setChecked(false);
    setStatus(QString(), Status::Progress);
}

std::optional<DatabaseConnection> ConnectionSheetController::connectionFromForm(QString* error) const
{
    if (!m_sheet)
        return std::nullopt;
    const std::optional<qint64> port = parsePort(m_portField->text());
    if (!port) {
        if (error)
            *error = tr("The port must be a number from 1 to 65535.");
        return std::nullopt;
    }
    DatabaseConnection connection;
    if (m_editingConnectionId)
        connection.connectionId = *m_editingConnectionId;
    connection.name = m_nameField->text();
    connection.type = selectedType();
    // An empty host stays empty: the placeholder is only a hint.
    connection.host = m_hostField->text();
    connection.port = *port != 0 ? *port : DatabaseConnection::defaultPortForType(connection.type);
    connection.database = m_databaseField->text();
    connection.username = m_usernameField->text();
    connection.password = m_passwordField->text();
    connection.ssl = m_sslCheckbox->isChecked();
    return connection;
}

void ConnectionSheetController::addClicked()
{
    if (!m_sheet)
        return;
    m_listTable->selectionModel()->clear();
    clearForm();
    m_nameField->setText(tr("New Connection"));
    m_nameField->setFocus(Qt::OtherFocusReason);
    m_nameField->selectAll();
}

void ConnectionSheetController::removeClicked()
{
    if (!m_sheet)
        return;
    ConnectionManager& manager = ConnectionManager::shared();
    const QList<DatabaseConnection> connections = manager.connections();
    const int row = selectedRow();
    if (row < 0 || row >= connections.size())
        return;
    manager.removeConnectionWithId(connections.at(row).connectionId);
    reloadList();
    selectFirstOrClear();
}

void ConnectionSheetController::typeChanged()
{
    if (!m_sheet)
        return;
    const qint64 port = wholeNumber(m_portField->text()).value_or(0);
    // The usual ports follow the type; any other is the user's own and stays.
    const qint64 postgresPort = DatabaseConnection::defaultPortForType(kPostgreSQL);
    const qint64 mysqlPort = DatabaseConnection::defaultPortForType(kMySQL);
    if (port == 0 || port == postgresPort || port == mysqlPort)
        m_portField->setText(QString::number(DatabaseConnection::defaultPortForType(selectedType())));
}

void ConnectionSheetController::saveClicked()
{
    if (!m_sheet)
        return;
    const QString name = m_nameField->text().trimmed();
    if (name.isEmpty()) {
        setStatus(tr("Name is required."), Status::Error);
        return;
    }
    QString error;
    std::optional<DatabaseConnection> connection = connectionFromForm(&error);
    if (!connection) {
        setStatus(error, Status::Error);
        return;
    }
    connection->name = name;

    ConnectionManager& manager = ConnectionManager::shared();
    if (!m_editingConnectionId) {
        manager.addConnection(*connection);
        m_editingConnectionId = connection->connectionId;
    } else {
        manager.updateConnection(*connection);
    }
    reloadList();
    const QList<DatabaseConnection> connections = manager.connections();
    const auto saved = std::find_if(connections.cbegin(), connections.cend(), [&](const DatabaseConnection& c) {
        return c.connectionId == connection->connectionId;
    });
    if (saved != connections.cend())
        selectRow(int(saved - connections.cbegin()));
    m_removeButton->setEnabled(!connections.isEmpty());
    setStatus(tr("Saved."), Status::Success);
}

void ConnectionSheetController::testClicked()
{
    if (!m_sheet || m_testing)
        return;
    QString error;
    const std::optional<DatabaseConnection> connection = connectionFromForm(&error);
    if (!connection) {
        setStatus(error, Status::Error);
        return;
    }
    if (!DatabaseExecutor::isAvailableForType(connection->type)) {
        showDriverNotFound(connection->type);
        return;
    }
    m_testing = true;
    m_testButton->setEnabled(false);
    m_spinner->startAnimation();
    setStatus(tr("Testing…"), Status::Progress);
    // The sheet is the context: once it is gone, so is everything the answer would touch.
    DatabaseExecutor::shared().testConnection(*connection, m_sheet.data(), [this](bool ok, const QString& failure) {
        m_testing = false;
        m_testButton->setEnabled(true);
        m_spinner->stopAnimation();
        if (ok)
            setStatus(tr("Connection successful!"), Status::Success);
        else
            setStatus(failure.isEmpty() ? tr("Connection failed.") : failure, Status::Error);
    });
}

void ConnectionSheetController::showDriverNotFound(const QString& type)
{
    auto* alert =
        new QMessageBox(QMessageBox::Warning, tr("Driver Not Found"), tr("Driver Not Found"), QMessageBox::Ok, m_sheet);
    alert->setInformativeText(DatabaseExecutor::installInstructionsForType(type));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
}

void ConnectionSheetController::doneClicked()
{
    if (m_sheet && m_sheet->isVisible())
        m_sheet->reject();
}

void ConnectionSheetController::sheetDidEnd()
{
    // Last: the delegate may delete this controller.
    if (m_delegate)
        m_delegate->connectionSheetDidDismiss();
}

void ConnectionSheetController::setStatus(const QString& text, Status status)
{
    if (!m_sheet)
        return;
    m_statusText = text;
    m_status = status;
    switch (status) {
    case Status::Progress:
        m_statusLabel->setTextColor(MRTheme::textSecondary());
        break;
    case Status::Success:
        m_statusLabel->setTextColor(MRTheme::success());
        break;
    case Status::Error:
        m_statusLabel->setTextColor(MRTheme::danger());
        break;
    }
    showStatusText();
}

void ConnectionSheetController::showStatusText()
{
    // One line: a server's message may run over several, and the whole of it stays in
    // the tooltip.
    const QString line = m_statusText.simplified();
    const QString shown = QFontMetrics(m_statusLabel->font()).elidedText(line, Qt::ElideRight, m_statusLabel->width());
    m_statusLabel->setText(shown);
    m_statusLabel->setToolTip(shown == m_statusText ? QString() : m_statusText);
    m_statusLabel->setAccessibleName(line);
}
