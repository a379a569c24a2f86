#include "SettingsDialog.h"

#include "Boxes.h"
#include "Logging.h"
#include "Util.h"
#include "ui_SettingsDialog.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>

namespace {

enum FullScreenId { WindowModeId = 0, FullScreenModeId = 1 };

} // namespace

namespace {

GamePaths withSettingsFile(const QString &gameDir, const QString &iniPath)
{
    GamePaths paths = GamePaths::forGameDirectory(gameDir);
    paths.settingsFile = iniPath;
    return paths;
}

} // namespace

SettingsDialog::SettingsDialog(
    QWidget *parent, const QString &iniPath, const QString &gameDir, const QPoint *launcherPosition)
    : SettingsDialog(parent, withSettingsFile(gameDir, iniPath), launcherPosition)
{ }

SettingsDialog::SettingsDialog(QWidget *parent, const GamePaths &paths, const QPoint *launcherPosition)
    : QDialog(parent, Qt::WindowFlags())
    , ui(std::make_unique<Ui::SettingsDialog>())
    , paths(paths)
    , iniPath(paths.settingsFile)
{
    ui->setupUi(this);
    if (launcherPosition)
        move(*launcherPosition + dialogOffset);

    QPalette transparent = palette();
    transparent.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 255, 0, 0)));
    setPalette(transparent);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    loadResolutionFile();

    ui->cancelPushButton->hide();
    redetected = false;
    ui->resolutionListView->hide();
    ui->resolutionListView->setEnabled(false);
    ui->FullScreenGroup->setId(ui->fullScreenDisabelCheckBox, WindowModeId);
    ui->FullScreenGroup->setId(ui->fullScreenEnabelCheckBox, FullScreenModeId);
    ui->QualityGroup->setId(ui->low, 0);
    ui->QualityGroup->setId(ui->middle, 1);
    ui->QualityGroup->setId(ui->hight, 2);
    connect(ui->FullScreenGroup, &QButtonGroup::idClicked, this, &SettingsDialog::checkApplyBtn);
    connect(ui->QualityGroup, &QButtonGroup::idClicked, this, &SettingsDialog::checkApplyBtn);
    connect(ui->resolutionPushButton, &QPushButton::clicked, this, &SettingsDialog::openResolutionList);
    connect(ui->resolutionListView, &QListWidget::clicked, this, &SettingsDialog::resolutionChosen);
    connect(ui->reDetectionButton, &QPushButton::clicked, this, &SettingsDialog::reDetectHardware);
    ui->resolutionListView->installEventFilter(this);
    installEventFilter(this);
    ui->resolutionPushButton->installEventFilter(this);
    listOpen = false;
    ui->applyPushButton->setEnabled(false);
    ui->resolutionPushButton->setEnabled(true);

    loadSettings(iniPath);
    buildResolutionList();
    setFocus();
}

SettingsDialog::~SettingsDialog() = default;

bool SettingsDialog::loadResolutionFile()
{
    const QString &path = paths.resolutionFile;
    resolutions = defaultResolutions;
    detectedQuality = 1;
    resolutionReadFailed = true;

    ResolutionFile file;
    if (QFileInfo::exists(path) || LTools::initResolution(paths.detectionTool))
        file = ResolutionFile::read(path);
    if (file.status == ResolutionFile::Status::Failed) {
        LTools::showWarning(tr("偵測可用解析度失敗"));
        reject();
        return false;
    }

    detectedQuality = file.quality;
    detectedFog = file.fog;
    if (file.status == ResolutionFile::Status::Read)
        resolutions = file.entries;
    resolutionReadFailed = false;
    return true;
}

void SettingsDialog::loadSettings(const QString &path)
{
    if (!QFileInfo::exists(path))
        LTools::initSettings(paths.detectionTool);

    // Without any file the defaults of VideoSettings apply; they differ from the per-key ones.
    VideoSettings values;
    if (QFileInfo::exists(path)) {
        const QSettings settings(path, QSettings::IniFormat);
        values.fullScreen = settings.value(SettingsKey::FullScreen, true).toBool();
        values.quickQuality = settings.value(SettingsKey::QuickQuality, 2).toInt();
        values.resolutionHeight = settings.value(SettingsKey::ResolutionHeight, 768).toInt();
        values.resolutionWidth = settings.value(SettingsKey::ResolutionWidth, 1024).toInt();
        values.fog = settings.value(SettingsKey::Fog, false).toBool();
    }
    showSettings(values);
    loadedSettings = values;
}

void SettingsDialog::showSettings(const VideoSettings &settings)
{
    ui->FullScreenGroup->button(settings.fullScreen ? FullScreenModeId : WindowModeId)->setChecked(true);
    if (QAbstractButton *quality = ui->QualityGroup->button(settings.quickQuality))
        quality->setChecked(true);
}

bool SettingsDialog::isLoadedSize(const ResolutionEntry &entry) const
{
    return entry.width == QString::number(loadedSettings.resolutionWidth)
        && entry.height == QString::number(loadedSettings.resolutionHeight);
}

QString SettingsDialog::rowText(const ResolutionEntry &entry) const
{
    QString text = entry.width + QStringLiteral(" X ") + entry.height;
    if (isLoadedSize(entry))
        text += QLatin1Char(' ') + tr("(目前)");
    return text;
}

void SettingsDialog::buildResolutionList()
{
    QListWidget *list = ui->resolutionListView;
    list->clear();
    for (const ResolutionEntry &entry : qAsConst(resolutions)) {
        auto *item = new QListWidgetItem(rowText(entry), list);
        // One fixed row height: the list's height is computed from it, and the fallback font
        // that draws the marker would otherwise make the marked row taller.
        item->setSizeHint(QSize(0, listRowHeight));
        if (isLoadedSize(entry))
            list->setCurrentRow(list->count() - 1);
    }
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const int rows = qBound(1, list->count(), maxVisibleRows);
    list->resize(list->width(), listBaseHeight + listRowHeight * (rows - 1));

    if (list->currentRow() < 0 && list->count() > 0) {
        const int last = list->count() - 1;
        list->setCurrentRow(last);
        // After a failed reading the list holds only the fallback entry: writing it would
        // replace the player's own size merely because the dialog was opened.
        if (!resolutionReadFailed && saveSettings() == SaveResult::Saved)
            list->item(last)->setText(rowText(resolutions.at(last)));
    }
    updateResolutionButton();
}

const ResolutionEntry *SettingsDialog::chosenEntry() const
{
    const int row = ui->resolutionListView->currentRow();
    return row >= 0 && row < resolutions.size() ? &resolutions.at(row) : nullptr;
}

bool SettingsDialog::chosenFullScreen() const
{
    return ui->FullScreenGroup->checkedId() == FullScreenModeId;
}

int SettingsDialog::chosenQuality() const
{
    // No box is checked when settings.ini holds a level without one; keep that level rather
    // than writing -1.
    const int checked = ui->QualityGroup->checkedId();
    return checked == -1 ? loadedSettings.quickQuality : checked;
}

void SettingsDialog::updateResolutionButton()
{
    if (const ResolutionEntry *entry = chosenEntry())
        ui->resolutionPushButton->setText(QStringLiteral("   ") + rowText(*entry));
}

void SettingsDialog::checkApplyBtn()
{
    const ResolutionEntry *entry = chosenEntry();
    if (!entry) {
        ui->applyPushButton->setEnabled(false);
        return;
    }
    const bool changed = chosenFullScreen() != loadedSettings.fullScreen
        || chosenQuality() != loadedSettings.quickQuality
        || entry->width.toInt() != loadedSettings.resolutionWidth
        || entry->height.toInt() != loadedSettings.resolutionHeight;
    ui->applyPushButton->setEnabled(changed || (redetected && detectedFog != loadedSettings.fog));
}

SettingsDialog::SaveResult SettingsDialog::saveSettings()
{
    const ResolutionEntry *entry = chosenEntry();
    if (!entry)
        return SaveResult::NothingChosen;

    VideoSettings chosen;
    chosen.resolutionWidth = entry->width.toInt();
    chosen.resolutionHeight = entry->height.toInt();
    chosen.fullScreen = chosenFullScreen();
    chosen.quickQuality = chosenQuality();
    chosen.fog = redetected ? detectedFog : loadedSettings.fog;

    QSettings settings(iniPath, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.setValue(SettingsKey::ResolutionWidth, chosen.resolutionWidth);
    settings.setValue(SettingsKey::ResolutionHeight, chosen.resolutionHeight);
    settings.setValue(SettingsKey::FullScreen, chosen.fullScreen);
    settings.setValue(SettingsKey::QuickQuality, chosen.quickQuality);
    // Fog has no box of its own: only a re-detection may change it.
    if (redetected)
        settings.setValue(SettingsKey::Fog, chosen.fog);
    settings.sync();
    // A file QSettings could not fully parse is still written (FormatError); only an access
    // error means the values did not reach the disk.
    if (settings.status() == QSettings::AccessError) {
        LTools::showWarning(tr("畫面配置儲存失敗"));
        return SaveResult::WriteFailed;
    }

    loadedSettings = chosen;
    redetected = false;
    return SaveResult::Saved;
}

void SettingsDialog::accept()
{
    if (saveSettings() == SaveResult::Saved) {
        buildResolutionList();
        Boxes::show(QMessageBox::Information, tr("訊息提示"), tr("畫面配置已套用成功"), tr("確定"));
    }
    checkApplyBtn();
}

void SettingsDialog::reDetectHardware()
{
    listOpen = false;
    redetected = true;
    ui->resolutionPushButton->setEnabled(true);
    ui->resolutionListView->setEnabled(false);
    ui->resolutionListView->hide();

    LTools::initResolution(paths.detectionTool);
    const bool detected = loadResolutionFile();
    buildResolutionList();
    if (!detected) {
        // The dialog has just been rejected: there is no recommendation to propose.
        redetected = false;
        return;
    }

    if (detectedQuality != -1) {
        if (QAbstractButton *quality = ui->QualityGroup->button(detectedQuality))
            quality->setChecked(true);
    }
    checkApplyBtn();
    qCDebug(lcStartup) << "Detect Quility: " << detectedQuality;

    Boxes::show(QMessageBox::Information, QString(),
        tr("偵測完畢\n系統建議畫面配置為【") + qualityWord(detectedQuality, "SettingsDialog") + tr("】"),
        tr("確定"), QString(), Boxes::OnTop::Yes);
}

void SettingsDialog::openResolutionList()
{
    listOpen = true;
    ui->resolutionListView->setEnabled(true);
    ui->resolutionListView->show();
    // Disabling the focused button hands the focus on to the list, whose focus loss closes it.
    ui->resolutionPushButton->setEnabled(false);
}

void SettingsDialog::closeResolutionList()
{
    listOpen = false;
    ui->resolutionPushButton->setEnabled(true);
    ui->resolutionListView->setEnabled(false);
    ui->resolutionListView->hide();
}

void SettingsDialog::resolutionChosen()
{
    closeResolutionList();
    updateResolutionButton();
    checkApplyBtn();
}

bool SettingsDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (!listOpen)
        return false;
    const QEvent::Type closing
        = watched == ui->resolutionListView ? QEvent::FocusOut : QEvent::MouseButtonPress;
    if (event->type() != closing)
        return false;
    closeResolutionList();
    return true;
}
