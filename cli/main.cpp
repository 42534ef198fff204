// quillon-flash: the factory line's upgrade of many cameras at once. See
// README.md, "Factory line", and `quillon-flash --help`.

#include "cli/flashsession.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Flash::Session session;
    if (const std::optional<int> status = session.begin(QCoreApplication::arguments()))
        return *status;
    return QCoreApplication::exec();
}
