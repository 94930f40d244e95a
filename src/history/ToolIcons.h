#pragma once

#include <QIcon>
#include <QString>

namespace corvidan::history {

/// The tool bar icon for a button key ("New" … "Underline"): the desktop
/// theme's icon when it has one, else one drawn here.
QIcon toolIcon(const QString& key);

} // namespace corvidan::history
