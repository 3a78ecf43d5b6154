#pragma once
// TSettingsBox: the modal dialog in which the user edits AppSettings. It copies the settings into
// its controls when it is created (FormCreate), copies them back only on "Accept" (Button1Click)
// and writes the settings file whenever it closes (FormClose), whatever closed it.
// User-interface thread only.

#include "core/app/Settings.h"
#include "ui/FormBase.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;

namespace quillo {

// Creates the dialog with Owner as its owner, shows it modally and frees it; true when the user
// pressed "Accept". A failed save of the settings file is shown as an error box owned by Owner.
// The caller sets its FSettingsOpen around the call (so the boss key does nothing while the key
// can be typed into the dialog) and runs ApplySettings after true.
bool ShowSettingsBox(QWidget* Owner);

class TSettingsBox final : public TFormBase<QDialog> {
    Q_OBJECT
public:
    explicit TSettingsBox(QWidget* Owner = nullptr);

    // The placeholder states of the two password fields.
    enum TPasswordState { psPlaceholder = 0, psEntered = 1, psChanged = 2 };
    static TPasswordState PasswordState(const QLineEdit* Edit);

    // The boss key being edited, in the layout of General.BossKey.
    TBossKey PendingBossKey;

    // Called where the computer beeps (a refused boss key); tests count the calls.
    std::function<void()> Beep;

    // Handlers of the form, public so that tests can run them one by one.
    void CheckBox1Click(QCheckBox* Sender);
    void Button3Click();
    void Button1Click();
    void FormClose();
    // The boss-key capture; true when the key was consumed (it was, while Edit13 is active).
    bool FormKeyDown(const QKeyEvent& Event);

    QTabWidget* PageControl1 = nullptr;
    QPushButton* Button1 = nullptr; // Accept
    QPushButton* Button2 = nullptr; // Cancel
    // My Account
    QCheckBox* CheckBox11 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLineEdit* Edit15 = nullptr;
    QLineEdit* Edit14 = nullptr;
    // Internet Connection
    QCheckBox* CheckBox1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button3 = nullptr;
    QComboBox* cb_adapters = nullptr;
    // Upload Engine
    QGroupBox* GroupBox2 = nullptr;
    QSpinBox* UpDown1 = nullptr; // ParallelThreads
    QSpinBox* UpDown2 = nullptr; // SpeedLimit
    QComboBox* ComboBox2 = nullptr;
    QSpinBox* UpDown5 = nullptr; // RetryCount
    QSpinBox* UpDown3 = nullptr; // ConnectTimeout
    QSpinBox* UpDown4 = nullptr; // ReadTimeout
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox13 = nullptr;
    // Scheduler
    QCheckBox* CheckBox4 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QTimeEdit* DateTimePicker1 = nullptr;
    QTimeEdit* DateTimePicker2 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    // Miscs
    QGroupBox* GroupBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox10 = nullptr;
    QLineEdit* Edit13 = nullptr;
    QLabel* lbl_bosskeyunavailable = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox9 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QRadioButton* rb_poweroff = nullptr;
    QRadioButton* rb_hibernate = nullptr;
    QCheckBox* CheckBox23 = nullptr;

    // Leading number of an upload-buffer text, as "Accept" stores it: "64" 64, "1,024" 1,
    // "abc", "0" and numbers beyond 32 bits 8.
    static int32_t SendBufferSizeFromText(const std::string& Text);

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    void done(int Result) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QWidget* CreateAccountPage();
    QWidget* CreateConnectionPage();
    QWidget* CreateEnginePage();
    QWidget* CreateSchedulerPage();
    QWidget* CreateMiscsPage();

    // The password fields' placeholder machine.
    void Edit2Enter(QLineEdit* Edit);
    void Edit2Change(QLineEdit* Edit);
    void Edit2Exit(QLineEdit* Edit);
    void SetPasswordState(QLineEdit* Edit, TPasswordState State);

    // The time-of-day values the pickers were filled from, kept when the time was not changed.
    double FStartTime = 0;
    double FEndTime = 0;
};

} // namespace quillo
