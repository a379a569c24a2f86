#include "SystemInfoDialog.h"

#include "Boxes.h"
#include "SystemInformation.h"
#include "ui_SystemInfoDialog.h"

#include <QFile>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

namespace {

QString reportText(const SystemInformation &info)
{
    const QPair<const char *, QString> lines[] = {
        {"OS : ", info.getOperatingSystem()},
        {"CPU : ", info.getProcessor()},
        {"Memory : ", info.getPhysicalMemory()},
        {"Display : ", info.getDisplayDescription()},
        {"DirectX : ", info.getDirectXVersion()},
        {"Driver : ", info.getDisplayDriverName()},
        {"Driver Version : ", info.getDisplayDriverVersion()},
        {"Vertex Shader Version : ", QString::number(info.getVertexShaderVersion(), 10)},
        {"Pixel Shader Version : ", QString::number(info.getPixelShaderVersion(), 10)},
        {"Sound : ", info.getSoundDescription()},
    };
    QString text;
    for (const auto &line : lines)
        text += QLatin1String(line.first) + line.second + QLatin1Char('\n');
    return text;
}

// UTF-8 without byte-order mark, line feeds as they stand. False when anything failed, also
// after the file opened (a full disk): the player must not be told it was saved.
bool writeReport(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << text;
    stream.flush();
    const bool streamed = stream.status() == QTextStream::Ok;
    file.close(); // flushes QFile's own buffer, where a write error may only now appear
    return streamed && file.error() == QFileDevice::NoError;
}

void showSaved()
{
    Boxes::show(QMessageBox::Information, QObject::tr("訊息提示"), SystemInfoDialog::tr("硬體資訊儲存成功"),
        SystemInfoDialog::tr("確定"));
}

} // namespace

SystemInfoDialog::SystemInfoDialog(QWidget *parent, const QString &directory)
    : QDialog(parent)
    , ui(new Ui::SystemInfoDialog)
{
    ui->setupUi(this);
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &SystemInfoDialog::readFinished);
    connect(ui->saveButton, &QPushButton::clicked, ui->saveButton, [this, directory] {
        if (writeReport(directory + QStringLiteral("/system_info.txt"), ui->textBrowser->toPlainText()))
            showSaved();
    });
    // A dialog closed while it waits must not collect afterwards, should it outlive exec().
    connect(this, &QDialog::finished, timer, &QTimer::stop);
    ui->textBrowser->setPlainText(tr("資料讀取中...."));
    ui->saveButton->setEnabled(false);
    timer->start(100);
}

SystemInfoDialog::~SystemInfoDialog()
{
    delete ui;
}

void SystemInfoDialog::readFinished()
{
    // Stopped first: the COM calls of the collection may dispatch messages, this timer's too.
    if (timer)
        timer->stop();
    const SystemInformation info;
    ui->textBrowser->setPlainText(reportText(info));
    ui->saveButton->setEnabled(true);
}
