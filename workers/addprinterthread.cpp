#include "addprinterthread.h"

#include "courierconstants.h"
#include "spoolerbuffer.h"
#include "widetext.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

const char kPortHost[] = "127.0.0.1";

QString portNameOf(int index)
{
    return QStringLiteral("REDadez%1").arg(index, 3, 10, QLatin1Char('0'));
}

bool sameText(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

AddPrinterThread::AddPrinterThread(const DriverInfo &info, QObject *parent)
    : QThread(parent)
    , m_printer(nullptr)
    , m_info(info)
{
}

AddPrinterThread::~AddPrinterThread()
{
    qDebug() << "14_AddPrinterThread destruct";
}

void AddPrinterThread::run()
{
    const QString failure = provision();
    if (!failure.isEmpty()) {
        emit addResult(false, failure, m_info);
        return;
    }
    qDebug() << "155_AddPrinterThread succeed";
    emit addResult(true, QStringLiteral("添加打印机成功"), m_info);
}

// Returns the message for the user on the first failure, or nothing when the printer is ready.
QString AddPrinterThread::provision()
{
    const QString driverName = QStringLiteral(COURIER_DRIVER_NAME);

    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer printerBuffer;
    if (!m_printer.EnumPrinters(printers, printerBuffer)) {
        printers.clear();
        // Without the list neither a duplicate nor a port in use can be seen: going on would put
        // the new printer on another printer's port, whose jobs it would then take, or mark an
        // existing printer of the same name with this serial. Only a spooler that has no printer
        // at all lists nothing without anything being wrong.
        if (!m_printer.HasNoPrinters()) {
            qDebug() << "62_AddPrinterThread EnumPrinters failed, the ports in use are unknown";
            return QStringLiteral("添加打印机失败，无法添加端口");
        }
    }
    QStringList usedPorts;
    for (const PRINTER_INFO_2W &printer : printers) {
        const QString name = fromWide(printer.pPrinterName);
        QString serial;
        m_printer.GetCloudPrinterId(name, serial);
        if (sameText(name, m_info.printer_name) || sameText(serial, m_info.cloud_sn))
            return QStringLiteral("当前打印机已经存在!");
        usedPorts.append(fromWide(printer.pPortName));
    }

    QList<PORT_INFO_2W> ports;
    SpoolerBuffer portBuffer;
    if (!m_printer.EnumPorts(ports, portBuffer))
        ports.clear();

    // The lowest index whose port no printer uses; a leftover port without a printer is reused.
    int index = 1;
    const auto portInUse = [&usedPorts](const QString &candidate) {
        return std::any_of(usedPorts.cbegin(), usedPorts.cend(),
            [&candidate](const QString &used) { return sameText(used, candidate); });
    };
    while (index <= kMaxPortIndex && portInUse(portNameOf(index)))
        ++index;
    if (index > kMaxPortIndex) {
        qDebug() << "85_AddPrinterThread addStandardTcpPort failed";
        return QStringLiteral("添加打印机失败，无法添加端口");
    }
    const QString portName = portNameOf(index);
    const quint16 portNumber = quint16(8100 + index);
    qDebug() << QStringLiteral("68_AddPrinterThread add driver %1,need port is %2,port num is %3")
                    .arg(m_info.printer_name, portName, QString::number(portNumber));

    const bool portExists = std::any_of(ports.cbegin(), ports.cend(),
        [&portName](const PORT_INFO_2W &port) { return sameText(fromWide(port.pPortName), portName); });
    if (!portExists && m_printer.addStandardTcpPort(portName, QLatin1String(kPortHost), portNumber) != 0) {
        qDebug() << "85_AddPrinterThread addStandardTcpPort failed";
        return QStringLiteral("添加打印机失败，无法添加端口");
    }

    QList<DRIVER_INFO_3W> drivers;
    SpoolerBuffer driverBuffer;
    if (!m_printer.EnumPrinterDrivers(drivers, driverBuffer))
        drivers.clear();
    const bool driverInstalled = std::any_of(drivers.cbegin(), drivers.cend(),
        [&driverName](const DRIVER_INFO_3W &driver) { return sameText(fromWide(driver.pName), driverName); });
    if (driverInstalled)
        qDebug() << "104_AddPrinterThread driver already installed";

    QString infPath
        = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(COURIER_DRIVER_INF);
    infPath.replace(QLatin1Char('/'), QLatin1Char('\\'));
    qDebug() << "104_AddPrinterThread inf is:" << infPath;

    if (!m_printer.addCloudPrinter(m_info.printer_name, portName, driverName, infPath, !driverInstalled)) {
        qDebug() << "118_AddPrinterThread addCloudPrinter failed";
        return QStringLiteral("安装驱动失败");
    }
    if (m_printer.GetDriverVersion(driverName).isEmpty()) {
        qDebug() << "125_AddPrinterThread GetDriverVersion failed";
        return QStringLiteral("安装驱动失败");
    }
    const int stored = m_printer.SetCloudPrinterId(m_info.printer_name, m_info.cloud_sn);
    if (stored != 0) {
        qDebug() << "134_AddPrinterThread setCloudPrinterId failed:" << stored;
        return stored == -1 ? QStringLiteral("添加打印机失败, 打印机名无效")
                            : QStringLiteral("添加打印机失败, 无法设置云序列号");
    }
    if (!m_printer.SetPrinterPortNum(m_info.printer_name, portNumber)) {
        qDebug() << "146_AddPrinterThread setPrinterPortNum failed";
        return QStringLiteral("添加打印机失败, 无法设置端口号");
    }

    m_info.port_num = portNumber;
    m_info.port_name = portName;
    m_info.driver_name = driverName;
    m_info.ip = QLatin1String(kPortHost);
    return QString();
}
