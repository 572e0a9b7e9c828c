#pragma once

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace host {

// Where the suite's modules put their child windows. The host program registers its MDI area
// at start; a module hands its form to addChild and gets it back inside a sub-window.
class MdiHost {
  public:
    // The host program's area (nullptr unregisters it). Not owned.
    static void setArea(QMdiArea* area);
    static QMdiArea* area();
    // The main window around the area; nullptr when no area is registered.
    static QMainWindow* mainWindow();

    // Wraps w in a sub-window of the area, shown maximized and active; the sub-window is
    // deleted (with w) when it closes. Without an area (a test, a module run on its own) w is
    // shown as a top-level window deleted on close, and nullptr comes back. A widget that is
    // already inside a sub-window of the area is only brought to the front.
    static QMdiSubWindow* addChild(QWidget* w);

    // The sub-window that holds w, or nullptr when w is not inside one.
    static QMdiSubWindow* subWindowOf(const QWidget* w);
};

}  // namespace host
