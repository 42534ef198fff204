#include "camsimprocess.h"

bool matches(const QJsonObject &line, const QJsonObject &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (line.value(it.key()) != it.value())
            return false;
    }
    return true;
}
