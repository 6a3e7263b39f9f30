// The dialog class of the dialog layer: builds a template's controls as Qt
// widgets at their pixel geometry (each field named by the static before it
// for screen readers), reaches them by id, routes control
// notifications, Enter, Esc and the close box to the dialog's handlers, and
// offers timers, user messages and the hand-off from worker threads.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QPixmap>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/DialogTemplate.h"

class QTimer;

namespace platform {

class Dialog;

// Control notification codes.
namespace notify {
constexpr int kClicked = 0;       // button clicked
constexpr int kSelChange = 1;     // combo or list selection changed
constexpr int kEditChange = 0x300;
constexpr int kTabSelChange = -551;
constexpr int kTabSelChanging = -552;
}  // namespace notify

// Standard command ids.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// User messages start here.
constexpr unsigned kWmUser = 0x0400;

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

// A colour as red, green and blue, 0 to 255 each.
struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A bitmap or icon resource by id (placeholders drawn by the program).
QPixmap ResourceBitmap(int id);

class DialogWidget : public QDialog {
    Q_OBJECT
public:
    DialogWidget(Dialog* owner, QWidget* parent);
    void Detach() { owner_ = nullptr; }
    Dialog* Owner() const { return owner_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

public:
    void reject() override;
    void accept() override;

private:
    Dialog* owner_;
};

class Dialog {
public:
    explicit Dialog(const DialogTemplate& tpl);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window (hidden unless the template says visible) and runs
    // OnInitDialog. For a child template the window is a child of parent.
    bool Create(QWidget* parent);
    bool Create(Dialog* parent) { return Create(parent ? parent->GetWidget() : nullptr); }
    // Creates the window when needed, shows it modally and returns the value
    // given to EndDialog.
    int DoModal(QWidget* parent = nullptr);
    void EndDialog(int result);
    bool IsModalRunning() const { return inModalLoop_; }
    int ModalResult() const { return modalResult_; }

    QWidget* GetWidget() const { return widget_; }
    const DialogTemplate& Template() const { return template_; }
    bool HasWindow() const { return !widget_.isNull(); }

    // Controls by id.
    QWidget* GetDlgItem(int id) const;
    template <class T>
    T* Item(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    void EnableDlgItem(int id, bool enable);
    bool IsDlgItemEnabled(int id) const;
    void ShowDlgItem(int id, bool show);
    bool IsDlgItemVisible(int id) const;  // the control's own visible state
    // The text colour of a static, on its default background.
    void SetDlgItemTextColor(int id, Rgb color);
    Rgb GetDlgItemTextColor(int id) const;
    // The name a screen reader gives a control that shows no text of its
    // own. Fields are named by the static before them in the template.
    void SetDlgItemAccessibleName(int id, const std::string& name);
    // The caption the template gives a control; empty when it has none.
    std::string TemplateCaption(int id) const;
    // Names each of these controls whose shown text is empty (the string
    // table leaves many captions empty) by its template caption.
    void NameEmptyByTemplateCaption(std::initializer_list<int> ids);
    void SetDlgItemBitmap(int id, int bitmapId);
    int GetDlgItemBitmap(int id) const;
    // Combo boxes and list boxes.
    int AddItem(int id, const std::string& text);
    void ClearItems(int id);
    int GetCurSel(int id) const;
    void SetCurSel(int id, int index);
    int GetItemCount(int id) const;
    std::string GetItemText(int id, int index) const;
    // Check boxes and radio buttons.
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;
    // Spins: range and position (setting the position writes it into the
    // buddy edit and raises the buddy's edit-change notification).
    void SetSpinRange(int id, int low, int high);
    void SetSpinPos(int id, int pos);
    int GetSpinPos(int id) const;
    // Progress bars.
    void SetProgressRange(int id, int low, int high);
    void SetProgressPos(int id, int pos);
    int GetProgressPos(int id) const;

    // The window itself.
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    void ShowWindow(bool show);
    bool IsWindowVisible() const;
    void EnableWindow(bool enable);
    bool IsWindowEnabled() const;
    void MoveWindow(int x, int y);
    void UpdateWindow();
    void Invalidate();

    // Message map: a handler for a control's notification.
    void OnNotify(int id, int code, std::function<void()> handler);
    // Delivers a control notification as the control would (also when the
    // control is disabled, as a sent command is).
    void SendCommand(int id, int code = notify::kClicked);
    // Synchronous user message.
    LResult SendMessage(unsigned message, WParam wParam = 0, LParam lParam = 0);
    // Queued user message, delivered on the UI thread; dropped when the
    // window is gone by then. Safe from any thread.
    void PostMessage(unsigned message, WParam wParam = 0, LParam lParam = 0);
    // Runs a function on the UI thread while the window exists; safe from any
    // thread. Workers use this for every control update.
    void PostToUi(std::function<void()> fn);
    // The same after ms milliseconds; called on the UI thread.
    void PostToUiLater(int ms, std::function<void()> fn);

    // Timers: OnTimer(id) every ms milliseconds until killed.
    void SetTimer(int id, int ms);
    void KillTimer(int id);
    bool IsTimerRunning(int id) const;

    // Pixel geometry of dialog units.
    static int MapX(int dlu) { return DluToPixelsX(dlu); }
    static int MapY(int dlu) { return DluToPixelsY(dlu); }

    // Handlers.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(kIdOk); }
    virtual void OnCancel() { EndDialog(kIdCancel); }
    virtual void OnClose() { OnCancel(); }
    virtual void OnTimer(int) {}
    virtual LResult OnMessage(unsigned, WParam, LParam) { return 0; }
    // Painting hook for minimised windows and the like; default does nothing.
    virtual void OnPaint() {}

    // Keyboard routing as the window receives it: Enter clicks the focused
    // button, else the default one (nothing while that one is disabled).
    void HandleEnter();
    void HandleEscape();
    void HandleCloseBox();

private:
    void BuildControls();
    QWidget* MakeControl(const ControlTemplate& c);
    void Dispatch(int id, int code);

    DialogTemplate template_;
    QPointer<DialogWidget> widget_;
    std::map<int, QPointer<QWidget>> controls_;
    std::map<std::pair<int, int>, std::function<void()>> handlers_;
    std::map<int, QPointer<QTimer>> timers_;
    bool inModalLoop_ = false;
    bool endedBeforeModal_ = false;
    int modalResult_ = 0;
};

}  // namespace platform
