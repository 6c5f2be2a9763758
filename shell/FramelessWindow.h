/* Helpers shared by the program's frameless windows. */
#ifndef SHELL_FRAMELESSWINDOW_H
#define SHELL_FRAMELESSWINDOW_H

class QWidget;
class QString;

namespace FramelessWindow {

/* Show only a rounded rectangle of the window's size (corner radius 5 px). */
void applyRoundedMask(QWidget *window);
/* Paint `imagePath` scaled to the widget's size as its background. */
void setBackground(QWidget *widget, const QString &imagePath);
/* Let the window system move `window` with the mouse, as a caption drag would. */
void startDrag(QWidget *window);
/* Move `dialog` so that its top-left corner is at a third of `anchor`'s width and height. */
void placeAtThird(QWidget *dialog, const QWidget *anchor);
/* Centre `dialog` on `anchor`. */
void centreOn(QWidget *dialog, const QWidget *anchor);

} // namespace FramelessWindow

#endif
