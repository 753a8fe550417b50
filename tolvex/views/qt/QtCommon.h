// What every Qt view of the emulator shares: text conversion at the toolkit's
// edge, the fonts, and the guard that keeps exceptions out of Qt's event loop.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

namespace tolvex::qtviews {

// 1251 bytes to a QString and back, through the platform's table.
QString toQt(const std::string& text1251);
std::string fromQt(const QString& text);
// Whether a text survives the trip to 1251 unchanged.
bool fitsCp1251(const QString& text);

// The fonts that stand in for the original ones.
QFont mainFont();                  // main window: 8 points
QFont dialogFont(int points = 12); // dialogs: 12 points
QFont boldButtonFont(int points);  // the "..." buttons

// Runs a form handler; an exception it lets through becomes an error box
// instead of unwinding through Qt.
void guarded(const std::function<void()>& handler);

// The widget that new top-level dialogs should stack on: the active modal
// dialog, else the main window, else none.
QWidget* dialogParent();
// The main window's widget while one exists (set by the main view).
void setMainWindowWidget(QWidget* widget);
QWidget* mainWindowWidget();

} // namespace tolvex::qtviews
