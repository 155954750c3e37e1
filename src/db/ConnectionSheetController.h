#pragma once

#include "db/DatabaseConnection.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class MRButton;
class MRLabel;
class MRSpinnerView;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QWidget;

// What the owner of the connection editor hears from it.
class ConnectionSheetControllerDelegate
{
public:
    virtual ~ConnectionSheetControllerDelegate() = default;

    // The sheet has closed; the owner may now delete the controller and refresh what shows
    // the connections.
    virtual void connectionSheetDidDismiss() = 0;
};

// The connection editor: a window-modal sheet over the main window that lists the saved
// connections and edits, adds, removes and tests them. Save and Remove write to
// ConnectionManager at once; the sheet never changes which connection is active.
class ConnectionSheetController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionSheetController)

public:
    static constexpr int kWidth = 660;
    static constexpr int kHeight = 470;

    // How a status text reads: a step under way, a success or a failure.
    enum class Status { Progress, Success, Error };

    explicit ConnectionSheetController(QObject* parent = nullptr);
    // Takes the sheet away with it, without telling the delegate.
    ~ConnectionSheetController() override;

    // Not owned; it must outlive the controller or be replaced first.
    void setDelegate(ConnectionSheetControllerDelegate* delegate) { m_delegate = delegate; }
    ConnectionSheetControllerDelegate* delegate() const { return m_delegate; }

    // Builds the sheet, lists the connections, shows the first one (or an empty form) and
    // opens the sheet modal to parent's window. Once it has closed, the delegate hears
    // connectionSheetDidDismiss(). Only the first call does anything.
    void beginSheetModalForWindow(QWidget* parent);

    // The actions of the sheet's controls and keys.
    void addClicked();
    void removeClicked();
    void typeChanged();
    void testClicked();
    void saveClicked();
    void doneClicked();

    // "mysql" when the type pop-up shows MySQL, else "postgresql".
    QString selectedType() const;
    void populateFormWithConnection(const DatabaseConnection& connection);
    void clearForm();
    // A new record from the form, its id the edited connection's. An empty port field
    // gives the type's default port; anything else that is not a port from 1 to 65535
    // gives nullopt and the sentence to show in *error.
    std::optional<DatabaseConnection> connectionFromForm(QString* error = nullptr) const;
    void selectFirstOrClear();
    void reloadList();
    void setStatus(const QString& text, Status status);

    // The id of the stored connection the form shows; nullopt while composing a new one.
    std::optional<QString> editingConnectionId() const { return m_editingConnectionId; }
    QString statusText() const { return m_statusText; }
    Status status() const { return m_status; }
    bool isTesting() const { return m_testing; }

    // The parts, for the owner and for tests; null before the sheet is built.
    QDialog* sheet() const { return m_sheet; }
    QWidget* parentWindow() const { return m_parentWindow; }
    MRLabel* titleLabel() const { return m_titleLabel; }
    QListWidget* listTable() const { return m_listTable; }
    MRButton* addButton() const { return m_addButton; }
    MRButton* removeButton() const { return m_removeButton; }
    QLineEdit* nameField() const { return m_nameField; }
    QComboBox* typePopup() const { return m_typePopup; }
    QLineEdit* hostField() const { return m_hostField; }
    QLineEdit* portField() const { return m_portField; }
    QLineEdit* databaseField() const { return m_databaseField; }
    QLineEdit* usernameField() const { return m_usernameField; }
    QLineEdit* passwordField() const { return m_passwordField; }
    QCheckBox* sslCheckbox() const { return m_sslCheckbox; }
    MRButton* testButton() const { return m_testButton; }
    MRButton* saveButton() const { return m_saveButton; }
    MRButton* doneButton() const { return m_doneButton; }
    MRLabel* statusLabel() const { return m_statusLabel; }
    MRSpinnerView* spinner() const { return m_spinner; }

private:
    void buildSheet(QWidget* parent);
    void layoutSheet();
    MRLabel* formLabel(const QString& text);
    QLineEdit* formField(bool secure);
    void selectionChanged();
    void selectRow(int row);
    int selectedRow() const;
    void showStatusText();
    void showDriverNotFound(const QString& type);
    void sheetDidEnd();

    ConnectionSheetControllerDelegate* m_delegate = nullptr;
    QPointer<QDialog> m_sheet;
    QPointer<QWidget> m_parentWindow;
    QWidget* m_root = nullptr;
    MRLabel* m_titleLabel = nullptr;
    QWidget* m_listCard = nullptr;
    QListWidget* m_listTable = nullptr;
    MRButton* m_addButton = nullptr;
    MRButton* m_removeButton = nullptr;
    QList<MRLabel*> m_formLabels;
    QList<QWidget*> m_formFields;
    QLineEdit* m_nameField = nullptr;
    QComboBox* m_typePopup = nullptr;
    QLineEdit* m_hostField = nullptr;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_databaseField = nullptr;
    QLineEdit* m_usernameField = nullptr;
    QLineEdit* m_passwordField = nullptr;
    QCheckBox* m_sslCheckbox = nullptr;
    QWidget* m_separator = nullptr;
    MRButton* m_testButton = nullptr;
    MRSpinnerView* m_spinner = nullptr;
    MRLabel* m_statusLabel = nullptr;
    MRButton* m_saveButton = nullptr;
    MRButton* m_doneButton = nullptr;

    std::optional<QString> m_editingConnectionId;
    QString m_statusText;
    Status m_status = Status::Progress;
    bool m_testing = false;
};
