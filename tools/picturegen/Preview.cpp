#include "Art.h"
#include "Pictures.h"

#include <QDir>
#include <QPainter>

// Positions below copy the geometry of the window forms, so the preview shows the pictures where
// the player sees them.
namespace {

class Composer
{
public:
    Composer(QPainter &p, const QString &dir)
        : m_p(p)
        , m_dir(dir)
    { }
    QImage image(const QString &name) const { return QImage(QDir(m_dir).filePath(name)); }
    // A label's pixmap: drawn at the label's top-left, clipped to the label.
    void label(const QString &name, const QRect &rect)
    {
        m_p.save();
        m_p.setClipRect(rect);
        m_p.drawImage(rect.topLeft(), image(name));
        m_p.restore();
    }
    // A style-sheet background image: drawn from the widget's top-left, not scaled.
    void button(const QString &name, const QRect &rect) { label(name, rect); }
    void bar(const QString &chunk, const QRect &rect, int percent)
    {
        label(chunk, QRect(rect.topLeft(), QSize(rect.width() * percent / 100, rect.height())));
    }
    void text(const QString &text, const QRect &rect, const QFont &font, const QColor &color, int flags)
    {
        m_p.save();
        m_p.setFont(font);
        m_p.setPen(color);
        m_p.drawText(rect, flags, text);
        m_p.restore();
    }

private:
    QPainter &m_p;
    QString m_dir;
};

QFont arial(int px, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

void launcher(QPainter &p, Composer &c, QPoint at, bool updateEnabled)
{
    p.save();
    p.translate(at);
    c.label("Launcher_bg_lab.png", {0, 0, 1024, 710});
    c.button("Launcher_settings_btn_Normal2.png", {175, 232, 145, 53});
    p.fillRect(QRect(120, 290, 711, 371), QColor(0xf4, 0xf4, 0xf4));
    c.text("web page 120,290 711x371", QRect(120, 290, 711, 371), arial(20), Qt::gray, Qt::AlignCenter);
    c.button("Launcher_close_btn_Normal.png", {865, 300, 51, 51});
    c.button("Launcher_minimalize_btn_Over.png", {865, 353, 51, 51});
    c.label("Launcher_remind_lab.png", {70, 740, 557, 37});
    c.button("Launcher_start_btn_Normal.png", {750, 550, 252, 213});
    c.button(updateEnabled ? "Launcher_update_btn_Normal.png" : "Launcher_update_btn_Disable.png",
        {650, 630, 145, 133});
    c.label("Launcher_progressbar_bottom.png", {140, 690, 479, 18});
    c.bar("Launcher_progressbar.png", {140, 690, 479, 18}, 64);
    c.text("24.50 MB / 38.20 MB", {140, 690, 479, 18}, arial(12), Qt::white, Qt::AlignCenter);
    c.label("Launcher_progressbar_top.png", {120, 680, 517, 49});
    c.button("Launcher_hardware_btn_Normal2.png", {325, 232, 145, 53});
    c.text("遊戲版號: 1.00", {690, 238, 151, 41}, arial(16), Qt::black, Qt::AlignHCenter | Qt::AlignBottom);
    c.label("Launcher_progressbar_bottom.png", {140, 715, 479, 18});
    c.bar("Launcher_progressbar_total.png", {140, 715, 479, 18}, 27);
    c.text("62.00 MB / 180.00 MB (3/12)", {140, 715, 479, 18}, arial(12), Qt::white, Qt::AlignCenter);
    c.label("Launcher_progressbar_top.png", {120, 705, 517, 49});
    p.restore();
}

void updateStrip(QPainter &p, Composer &c, QPoint at)
{
    p.save();
    p.translate(at);
    p.setClipRect(0, 0, 520, 80);
    c.label("Launcher_progressbar_bottom.png", {20, 50, 479, 18});
    c.bar("Launcher_progressbar.png", {20, 50, 479, 18}, 45);
    c.label("Launcher_progressbar_top.png", {0, 40, 517, 49});
    c.label("ui_windows_title2.png", {0, -10, 520, 70});
    c.text("更新中", {0, 13, 520, 30}, arial(18), Qt::white, Qt::AlignCenter);
    p.restore();
}

void splash(QPainter &p, Composer &c, QPoint at)
{
    p.save();
    p.translate(at);
    c.label("ui_windows_title2.png", {0, 0, 520, 70});
    c.text("初始遊戲配置", {0, 0, 520, 70}, arial(16), Qt::white, Qt::AlignCenter);
    p.restore();
}

void settings(QPainter &p, Composer &c, QPoint at, bool applyEnabled, int fullScreenId, int qualityId)
{
    p.save();
    p.translate(at);
    p.setClipRect(0, 0, 500, 450);
    c.label("settings_bg.png", {0, 0, 550, 450});
    c.label("settings_text_lab.png", {80, 70, 350, 240});
    c.button(applyEnabled ? "settings_apply_btn_Normal.png" : "settings_apply_btn_Disable.png",
        {280, 330, 119, 48});
    c.button("settings_close_btn_Normal.png", {430, 10, 69, 69});
    // Check-box indicators: 26x30 at the left of each box, centred in its 51 pixel height.
    const QPoint boxes[] = {{280, 200}, {190, 200}, {370, 270}, {280, 270}, {190, 270}};
    const bool checked[]
        = {fullScreenId == 0, fullScreenId == 1, qualityId == 0, qualityId == 1, qualityId == 2};
    for (int i = 0; i < 5; ++i)
        c.label(checked[i] ? "ui_checkbox_v1.png" : "ui_checkbox_n1.png",
            {boxes[i] + QPoint(0, 10), QSize(26, 30)});
    c.button("combo_Normal.png", {180, 140, 251, 39});
    c.text("   1024 X 768 (目前)", QRect(180, 140, 251, 39).adjusted(4, 0, 0, 0), arial(22), Qt::white,
        Qt::AlignLeft | Qt::AlignVCenter);
    c.button("settings_return_btn_Normal.png", {90, 330, 135, 48});
    p.restore();
}

// The launcher's buttons as hovered, at their form places, over a strip of the background.
void launcherButtonsOver(QPainter &p, Composer &c)
{
    p.save();
    p.translate(0, 120 - 210);
    p.setClipRect(0, 210, 1024, 90);
    p.drawImage(0, 0, c.image("Launcher_bg_lab.png"));
    p.setClipping(false);
    c.button("Launcher_settings_btn_Over2.png", {175, 232, 145, 53});
    c.button("Launcher_hardware_btn_Over2.png", {325, 232, 145, 53});
    c.text("遊戲版號: 12.35", {690, 238, 151, 41}, arial(16), Qt::black, Qt::AlignHCenter | Qt::AlignBottom);
    p.restore();
}

// Every state of every button side by side on a dark and a light ground.
void stateSheet(QPainter &p, Composer &c, QPoint at)
{
    const QStringList rows[] = {
        {"Launcher_start_btn_Normal.png", "Launcher_start_btn_Over.png", "Launcher_start_btn_Click.png",
            "Launcher_start_btn_Disable.png"},
        {"Launcher_update_btn_Normal.png", "Launcher_update_btn_Over.png", "Launcher_update_btn_Click.png",
            "Launcher_update_btn_Disable.png", "Launcher_settings_btn_Normal2.png",
            "Launcher_settings_btn_Over2.png", "Launcher_hardware_btn_Normal2.png",
            "Launcher_hardware_btn_Over2.png"},
        {"Launcher_close_btn_Normal.png", "Launcher_close_btn_Over.png", "Launcher_close_btn_Click.png",
            "Launcher_close_btn_Disable.png", "Launcher_minimalize_btn_Normal.png",
            "Launcher_minimalize_btn_Over.png", "Launcher_minimalize_btn_Click.png",
            "Launcher_minimalize_btn_Disable.png", "settings_close_btn_Normal.png",
            "settings_close_btn_Over.png", "settings_close_btn_Click.png", "settings_close_btn_Disable.png",
            "ui_checkbox_n1.png", "ui_checkbox_v1.png"},
        {"settings_apply_btn_Normal.png", "settings_apply_btn_Over.png", "settings_apply_btn_Click.png",
            "settings_apply_btn_Disable.png", "settings_return_btn_Normal.png",
            "settings_return_btn_Over.png", "settings_return_btn_Click.png"},
        {"combo_Normal.png", "combo_Over.png", "combo_Click.png", "Launcher_remind_lab.png"},
    };
    int y = at.y();
    for (const QStringList &row : rows) {
        int x = at.x();
        int height = 0;
        for (const QString &name : row) {
            const QImage img = c.image(name);
            p.drawImage(x, y, img);
            x += img.width() + 12;
            height = std::max(height, img.height());
        }
        y += height + 12;
    }
}

} // namespace

QImage composePreview(const QString &imagesDir)
{
    QImage out(1600, 1700, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    // A desktop-like ground so that see-through parts of the windows are visible as such.
    QLinearGradient ground(0, 0, 1600, 1700);
    ground.setColorAt(0, QColor(0x5a, 0x7d, 0x9a));
    ground.setColorAt(1, QColor(0xc8, 0xb8, 0x9a));
    p.fillRect(out.rect(), ground);
    p.setRenderHint(QPainter::Antialiasing);
    Composer c(p, imagesDir);
    launcher(p, c, {10, 10}, false);
    splash(p, c, {1060, 20});
    updateStrip(p, c, {1060, 110});
    settings(p, c, {1060, 210}, false, 1, 2);
    settings(p, c, {1060, 680}, true, 0, 0);
    // The bars before any download and at the end, and the buttons as hovered.
    p.save();
    p.translate(10, 830);
    c.label("Launcher_progressbar_bottom.png", {140, 10, 479, 18});
    c.text("檢查更新檔案......", {140, 10, 479, 18}, arial(12), Qt::white, Qt::AlignCenter);
    c.label("Launcher_progressbar_top.png", {120, 0, 517, 49});
    c.label("Launcher_progressbar_bottom.png", {140, 60, 479, 18});
    c.bar("Launcher_progressbar_total.png", {140, 60, 479, 18}, 100);
    c.text("更新中", {140, 60, 479, 18}, arial(12), Qt::white, Qt::AlignCenter);
    c.label("Launcher_progressbar_top.png", {120, 50, 517, 49});
    launcherButtonsOver(p, c);
    p.restore();
    stateSheet(p, c, {10, 1150});
    return out;
}
