#pragma once

// A scripted walk through the open windows, one step per line of a text file, for the pictures
// of the documentation and for showing the suite without a clerk at the keyboard. Widgets are
// named by their objectName; the steps run from the event loop, so a modal window a step opens
// is driven by the next steps as the clerk would drive it.
//
//   wait NAME            until a visible widget NAME exists and no wait window is up
//   set NAME TEXT        an edit's text, a date edit's date (dd/MM/yyyy, or "hoje-N" for N days
//                        ago), a check box (1 or 0), a combo box's item by its text
//   focus NAME           moves the focus there (the field left runs its exit checks)
//   key NAME KEY...      key presses for the widget: Space, Down, Up, Tab, Return, Escape
//   click NAME           clicks a button
//   action NAME TEXT     triggers the item of NAME's menu whose text starts with TEXT
//   shot FILE [NAME]     the main window (or the window NAME) as a PNG, beside the script
//                        unless FILE is absolute
//   close NAME           closes the window NAME
//   pause MS             lets the event loop run
//
// Questions asked while the walk runs are answered with Yes (or OK), a file to save is the
// name offered, in the script's directory, and errors are printed. A step that cannot be done
// within its time ends the walk with the reason.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace suite {

struct TourStep {
    int line = 0;
    QString verb;
    QStringList args;
};

// The steps of a script; a line with an unknown verb or missing arguments raises
// host::EHostError naming its line. Empty lines and lines starting with '#' are skipped.
QList<TourStep> parseTour(const QString& text);

// Runs the script file over mainWindow, then calls done with an empty text, or with the reason
// the walk stopped. The walk belongs to mainWindow and ends with it. Raises host::EHostError when
// the file cannot be read or parsed.
void runTour(const QString& file, QWidget* mainWindow, std::function<void(QString)> done);

}  // namespace suite
