#ifndef QUILLON_STYLES_H
#define QUILLON_STYLES_H

#include <QString>

// The window shows the state of a link, and of the communication test, by
// the colour of its button.
namespace Styles {

inline const QString kLinkUp = QStringLiteral("background-color:rgb(0,255,0)");
inline const QString kLinkDown = QStringLiteral("background-color:yellow");
inline const QString kCommUntested = QStringLiteral("background: gray");
inline const QString kCommPassed = QStringLiteral("background: green");
inline const QString kCommFailed = QStringLiteral("background: red");

} // namespace Styles

#endif // QUILLON_STYLES_H
