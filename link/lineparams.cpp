#include "lineparams.h"

#include <array>

namespace LineParams {
namespace {

const std::array<qint32, 6> kBaudRates{2400, 9600, 19200, 38400, 57600, 115200};
const std::array<QSerialPort::Parity, 3> kParities{QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity};

template <typename T, std::size_t N>
std::optional<T> itemAt(const std::array<T, N> &items, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N)
        return std::nullopt;
    return items[static_cast<std::size_t>(index)];
}

} // namespace

std::optional<qint32> baudRate(int index)
{
    return itemAt(kBaudRates, index);
}

std::optional<QSerialPort::Parity> parity(int index)
{
    return itemAt(kParities, index);
}

} // namespace LineParams
