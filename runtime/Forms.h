#pragma once
#include <QPointer>
#include <QWidget>

#include <typeindex>

namespace runtime {

// A window of the program: one instance per class, made on first reference
// through global<T>(). Creating the instance builds nothing; the first
// Show() loads it (builds its controls from the .ui description, then runs
// Form_Load to its end) and only then puts it on the screen.
class Form : public QWidget {
    Q_OBJECT
public:
    ~Form() override;

    bool isLoaded() const { return loaded_; }
    bool isLoading() const { return loading_; }

    // Visible = True. Loads the window first when it is not loaded: a window
    // loaded anew starts in the normal state (neither minimised nor
    // maximised), whatever state it was unloaded in. The first show after a
    // load makes the window the active one, as a new window is on Windows:
    // the keyboard goes to it, with or without a window manager. A Show()
    // that arrives while the window is still loading is ignored: the load
    // that runs shows it when it ends.
    void Show();
    // Visible = False: leaves the screen, stays loaded. Does nothing to a
    // window that is not loaded.
    void Hide();
    // Destroys the window's controls; the instance stays, and a later Show()
    // loads it anew from its description. The controls are deleted once the
    // running handlers have returned, so a handler of this window that is
    // still running keeps valid objects.
    void Unload();

    // The client area within the window: the whole window, or what lies
    // inside a drawn dialog frame.
    QRect clientRect() const;

    // The classic dialog frame's width at 96 dpi.
    static constexpr int kDialogFrameWidth = 3;

protected:
    explicit Form(QWidget *parent = nullptr);
    // Builds the controls from the stored description and binds handlers.
    virtual void build() = 0;
    virtual void Form_Load() {}
    // A close from outside (title bar, the system) unloads the window, runs
    // no handler, and ends the program when no window of it is left on the
    // screen.
    void closeEvent(QCloseEvent *event) override;

    // For a window with a dialog frame but no title bar, which Qt has no
    // window flag for on X11 (and with no window manager nobody would draw
    // it): the window draws a raised dialog frame around its client area
    // itself. Call from build() once the controls are built: the window's
    // size then is its client area's, and its controls keep their places in
    // the client area, which moves inside the frame and clips them as the
    // platform's client area would. The window becomes that much larger and
    // cannot be resized.
    void drawDialogFrame();
    void paintEvent(QPaintEvent *event) override;

private:
    bool loaded_ = false;
    bool loading_ = false;
    bool shownSinceLoad_ = false;
    int drawnFrame_ = 0;
};

// Is any window of the program on the screen, or loading?
bool anyWindowShownOrLoading();

namespace detail {
QPointer<Form> &slot(std::type_index type);
void registerForm(Form *form);
} // namespace detail

// The window's global accessor: its single instance, made at first reference.
template <class T> T &global()
{
    QPointer<Form> &p = detail::slot(std::type_index(typeid(T)));
    if (!p) {
        T *form = new T;
        p = form;
        detail::registerForm(form);
    }
    return static_cast<T &>(*p);
}

// Has the window's instance been made?
template <class T> bool exists()
{
    return !detail::slot(std::type_index(typeid(T))).isNull();
}

// Destroys every window instance (program end, tests).
void destroyAllForms();

} // namespace runtime
