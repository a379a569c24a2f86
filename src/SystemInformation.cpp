#include "SystemInformation.h"

#include <QDebug>

namespace {

QString toQString(const SystemInfo::Text &text)
{
#ifdef _WIN32
    return QString::fromWCharArray(text.data(), int(text.size()));
#else
    return QString::fromStdString(text);
#endif
}

} // namespace

SystemInformation::SystemInformation()
    : SystemInformation(SystemInfo::collect())
{ }

SystemInformation::SystemInformation(const SystemInfo::Report &report)
    : m_report(report)
{
    // The name goes in as plain text: a QString would be quoted.
    for (const std::string &property : m_report.unreadableProperties)
        qDebug() << "DxDiag : Get Property [" << property.c_str() << "] error..." << Qt::endl;
}

QString SystemInformation::getOperatingSystem() const
{
    return toQString(m_report.operatingSystem);
}

QString SystemInformation::getProcessor() const
{
    return toQString(m_report.processor);
}

QString SystemInformation::getPhysicalMemory() const
{
    return toQString(m_report.physicalMemory);
}

QString SystemInformation::getDirectXVersion() const
{
    return toQString(m_report.directXVersion);
}

QString SystemInformation::getDisplayDescription() const
{
    return toQString(m_report.displayDescription);
}

QString SystemInformation::getDisplayDriverName() const
{
    return toQString(m_report.displayDriverName);
}

QString SystemInformation::getDisplayDriverVersion() const
{
    return toQString(m_report.displayDriverVersion);
}

QString SystemInformation::getSoundDescription() const
{
    return toQString(m_report.soundDescription);
}

quint8 SystemInformation::getVertexShaderVersion() const
{
    return m_report.vertexShaderVersion;
}

quint8 SystemInformation::getPixelShaderVersion() const
{
    return m_report.pixelShaderVersion;
}
