#include "ReductionWidget.h"

#include "CheckQ7Thread.h"
#include "ClearThread.h"
#include "dataservice/LensTable.h"
#include "platform/AppPaths.h"
#include "platform/DialogPresenter.h"
#include "shell/FramelessWindow.h"
#include "shell/MyFlyUi.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>

namespace {

const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");
const char *const loadingIcon = ":/Orvex/res/icon_loading.png";
const char *const okIcon = ":/Orvex/res/ok.png";
const char *const failIcon = ":/Orvex/res/icon_fail.png";

/* The rows of the page from the top, by the lens's word. */
const char *const rowOrder[] = {"Front", "Back", "Right", "Left", "Center"};

} // namespace

ReductionWidget *ReductionWidget::instance()
{
    static ReductionWidget *page = new ReductionWidget;
    return page;
}

ReductionWidget::ReductionWidget(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    auto *warning = new QLabel(this);
    warning->setGeometry(30, 26, 20, 20);
    warning->setScaledContents(true);
    warning->setPixmap(QPixmap(QStringLiteral(":/Orvex/res/icon_warning_nor.png")));
    auto *note = new QLabel(tr("该功能将清空相机中所有数据，使用前请做好备份！"), this);
    note->setGeometry(58, 22, 500, 28);
    note->setStyleSheet(QStringLiteral("color: rgb(220, 60, 40);"));

    for (int row = 0; row < 5; ++row) {
        const int disk = LensTable::diskForName(QString::fromLatin1(rowOrder[row]));
        Row &r = m_rows[static_cast<size_t>(disk)];
        const int y = 80 + 62 * row;
        auto *name = new QLabel(QString::fromLatin1(rowOrder[row]), this);
        name->setGeometry(40, y - 2, 70, 24);
        name->setStyleSheet(darkText);
        r.bar = new QProgressBar(this);
        r.bar->setGeometry(120, y, 340, 18);
        r.bar->setTextVisible(false);
        r.storage = new QLabel(this);
        r.storage->setGeometry(120, y + 22, 340, 20);
        r.storage->setStyleSheet(darkText);
        r.status = new QLabel(this);
        r.status->setGeometry(480, y - 3, 24, 24);
        r.status->setScaledContents(true);
        r.status->hide();
    }

    m_restore = new Mylabel(this);
    m_restore->setImage(QStringLiteral(":/Orvex/res/huanyuan.png"));
    m_restore->setGeometry(250, 410, 106, 40);
    m_restore->installEventFilter(this);
    connect(m_restore, &Mylabel::clicked, this, &ReductionWidget::restore);
    m_step = new QLabel(this);
    m_step->setGeometry(40, 460, 530, 24);
    m_step->setStyleSheet(darkText);

    refreshStorage();
    connect(Orvex::instance(), &Orvex::pageShown, this, [this](int entry) {
        if (entry == Orvex::ClearEntry)
            checkCards();
    });
}

void ReductionWidget::setSpace(int disk, double freeGb, double totalGb)
{
    if (disk < 0 || disk >= LensTable::count)
        return;
    Row &r = m_rows[static_cast<size_t>(disk)];
    const bool absent = (freeGb == 0 && totalGb == 0) || totalGb < 0;
    r.freeGb = absent ? -1.0 : freeGb;
    r.totalGb = absent ? -1.0 : totalGb;
}

void ReductionWidget::refreshStorage()
{
    for (Row &r : m_rows) {
        if (r.totalGb < 0) {
            r.bar->setRange(0, 100);
            r.bar->setValue(0);
            r.storage->setText(tr("未连接"));
            continue;
        }
        /* Hundredths of a GB: a card under 1 GB would otherwise get an empty range, which a
         * progress bar shows as busy. */
        r.bar->setRange(0, static_cast<int>(r.totalGb * 100));
        r.storage->setText(
            tr("已存储%1G|共:%2G").arg(r.totalGb - r.freeGb, 0, 'f', 2).arg(r.totalGb, 0, 'f', 2));
    }
}

void ReductionWidget::checkCards()
{
    if (m_checking || m_thread)
        return;
    m_checking = true;
    auto *watch = new CheckQ7Thread(CheckQ7Thread::currentDrives(), this);
    connect(watch, &CheckQ7Thread::measured, this, &ReductionWidget::setSpace);
    connect(watch, &CheckQ7Thread::upgrade, this, [this] {
        m_cardsPresent = true;
        refreshStorage();
        UpGrade();
    });
    connect(watch, &CheckQ7Thread::popui, this, [this] {
        m_cardsPresent = false;
        refreshStorage();
        poptip();
    });
    connect(watch, &QThread::finished, this, [this, watch] {
        m_checking = false;
        watch->deleteLater();
    });
    watch->start();
}

/* The bars show the used space of each card. */
void ReductionWidget::UpGrade()
{
    for (Row &r : m_rows)
        if (r.totalGb >= 0)
            r.bar->setValue(static_cast<int>((r.totalGb - r.freeGb) * 100));
}

void ReductionWidget::poptip()
{
    DialogPresenter::instance()->warn(Orvex::instance(), tr("请将相机通过usb连接电脑！"),
                                      QString());
}

void ReductionWidget::restore()
{
    if (!m_cardsPresent || m_thread)
        return;
    const QString dataDir = AppPaths::dataDir();
    const QString saveFolder = CardClearer::lastSaveFolder(dataDir);
    const QList<ClearCard> cards = CardClearer::survey({}, saveFolder, dataDir);

    /*
     * The question names what each card holds, what the last transfer lacks and whether every
     * file under its DCIM folder has a verified copy; what is at risk stands in red. It is rich
     * text: every text in it is escaped, so the label takes it for markup as a whole. The
     * question box has no default button: Enter does nothing, Escape answers no.
     */
    const QString red = QStringLiteral("<span style=\"color:#d00\">%1</span>");
    QStringList lines{tr("将清除相机中所有的数据,是否继续?").toHtmlEscaped()};
    QStringList refusals;
    int clearable = 0;
    for (const ClearCard &card : cards) {
        const QString word = LensTable::lens(card.disk).word;
        if (!card.refusal.isEmpty()) {
            refusals << tr("%1：不清空（%2）").arg(word, card.refusal);
            lines << refusals.last().toHtmlEscaped();
            continue;
        }
        ++clearable;
        QString line = tr("%1：%2张照片").arg(word).arg(card.photos);
        if (card.notTransferred > 0)
            line += tr("，其中%1张不在上次完成的传输中").arg(card.notTransferred);
        else if (card.notTransferred < 0 && card.photos > 0)
            line += tr("，没有完成的传输可以核对");
        line = line.toHtmlEscaped() + QStringLiteral("，");
        if (!card.safety.error.isEmpty())
            line += red.arg(tr("无法判断是否安全（%1）").arg(card.safety.error).toHtmlEscaped());
        else if (card.safety.isSafe())
            line += tr("安全");
        else
            line += red.arg(tr("%1个文件没有经过校验的副本").arg(card.safety.unsafe.size()));
        lines << line;
    }
    if (clearable == 0) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("没有可以清空的相机存储卡"),
                                          refusals.join(QLatin1Char('\n')));
        return;
    }
    if (!DialogPresenter::instance()->ask(Orvex::instance(), lines.join(QStringLiteral("<br>"))))
        return;

    for (Row &r : m_rows) {
        r.status->setPixmap(QPixmap(QString::fromLatin1(loadingIcon)));
        r.status->setToolTip(QString());
        r.status->hide();
    }
    for (const ClearCard &card : cards)
        m_rows[static_cast<size_t>(card.disk)].status->show();

    m_box = new MyFlyUi(Orvex::instance());
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setLines(tr("正在还原中,请勿中断软件!"), QString());
    m_box->setButtonsVisible(false);
    connect(m_box, &QObject::destroyed, this, [this] { m_box = nullptr; });
    m_restore->setEnabled(false);

    m_thread = new ClearThread(cards, saveFolder, dataDir, this);
    connect(m_thread, &ClearThread::step, this, [this](int disk, const QString &what) {
        m_step->setText(LensTable::lens(disk).word + QStringLiteral("：") + what);
    });
    connect(m_thread, &QThread::finished, this, &ReductionWidget::closetip);
    m_thread->start();
    FramelessWindow::centreOn(m_box, Orvex::instance());
    m_box->open();
}

void ReductionWidget::closetip()
{
    if (!m_thread)
        return;
    QStringList failures;
    for (Row &r : m_rows)
        r.status->hide();
    for (const ClearOutcome &outcome : m_thread->outcomes()) {
        Row &r = m_rows[static_cast<size_t>(outcome.disk)];
        r.status->setPixmap(QPixmap(QString::fromLatin1(outcome.ok ? okIcon : failIcon)));
        r.status->setToolTip(outcome.reason);
        r.status->show();
        Orvex::instance()->cardFlags[static_cast<size_t>(outcome.disk)] = outcome.ok ? 1 : 0;
        if (!outcome.ok)
            failures << LensTable::lens(outcome.disk).word + QStringLiteral("：") + outcome.reason;
    }
    m_thread->deleteLater();
    m_thread = nullptr;
    m_step->setText(failures.join(QStringLiteral("；")));
    if (m_box) {
        m_box->setLines(tr("完成还原！"),
                        failures.isEmpty() ? QString() : tr("%1张卡未能还原").arg(failures.size()));
        m_box->setButtonsVisible(true);
    }
    m_restore->setEnabled(true);
    checkCards(); /* the cards were formatted: measure them again */
}

QString ReductionWidget::storageText(int disk) const
{
    return m_rows[static_cast<size_t>(disk)].storage->text();
}

int ReductionWidget::barValue(int disk) const
{
    return m_rows[static_cast<size_t>(disk)].bar->value();
}

bool ReductionWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_restore) {
        if (event->type() == QEvent::Enter)
            m_restore->setCursor(Qt::PointingHandCursor);
        else if (event->type() == QEvent::Leave)
            m_restore->setCursor(Qt::ArrowCursor);
    }
    return QWidget::eventFilter(watched, event);
}
