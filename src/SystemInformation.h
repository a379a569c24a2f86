#ifndef SYSTEMINFORMATION_H
#define SYSTEMINFORMATION_H

#include "platform/SystemInfo.h"

#include <QString>
#include <QtGlobal>

// The hardware report of this machine, collected once on construction (blocking: DxDiag
// takes a moment). On Windows COM must already be initialised on the calling thread; the GUI
// thread's initialisation does that. Every text property that could not be read is logged, in
// the report's line order.
class SystemInformation
{
public:
    SystemInformation();
    explicit SystemInformation(const SystemInfo::Report &report);

    QString getOperatingSystem() const;
    QString getProcessor() const;
    QString getPhysicalMemory() const;
    QString getDirectXVersion() const;
    QString getDisplayDescription() const;
    QString getDisplayDriverName() const;
    QString getDisplayDriverVersion() const;
    QString getSoundDescription() const;
    quint8 getVertexShaderVersion() const;
    quint8 getPixelShaderVersion() const;

private:
    SystemInfo::Report m_report;
};

#endif
