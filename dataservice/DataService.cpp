#include "DataService.h"

#include "CardFinder.h"
#include "LensTable.h"
#include "platform/AppPaths.h"
#include "platform/DialogPresenter.h"
#include "platform/VolumeQuery.h"
#include "pos/MyReadExcelThread.h"
#include "shell/FramelessWindow.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/TitleBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStorageInfo>
#include <QTextEdit>

namespace {

const char *beginPicture = ":/Orvex/res/begin.png";
const char *pausePicture = ":/Orvex/res/zanting.png";
const QString blueText = QStringLiteral("color:rgb(22, 155,213);");
const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");

} // namespace

DataService *DataService::instance()
{
    static DataService *page = new DataService;
    return page;
}

DataService::DataService(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    for (int disk = 0; disk < LensTable::count; ++disk) {
        auto *button = new Mylabel(this);
        button->setGeometry(20 + 114 * disk, 16, 100, 40);
        button->setImage(LensTable::lens(disk).iconNormal);
        connect(button, &Mylabel::clicked, this, &DataService::onClicked);
        m_lensButtons[static_cast<size_t>(disk)] = button;
    }

    auto *saveCaption = new QLabel(tr("保存到："), this);
    saveCaption->setObjectName(QStringLiteral("label"));
    saveCaption->setGeometry(20, 72, 70, 30);
    saveCaption->setStyleSheet(darkText);
    m_path = new Mylabel(this);
    m_path->setImage(QStringLiteral(":/Orvex/res/path.png"));
    m_path->setGeometry(90, 72, 34, 30);
    m_saveLabel = new QLabel(this);
    m_saveLabel->setObjectName(QStringLiteral("label_8"));
    m_saveLabel->setGeometry(130, 72, 370, 30);
    m_saveLabel->setStyleSheet(darkText);
    m_browse = new Mylabel(this);
    m_browse->setImage(QStringLiteral(":/Orvex/res/liulan.png"));
    m_browse->setGeometry(510, 72, 72, 30);
    for (Mylabel *label : {m_path, m_browse})
        connect(label, &Mylabel::clicked, this, &DataService::onClicked);

    auto *posCaption = new QLabel(tr("POS文件"), this);
    posCaption->setObjectName(QStringLiteral("label_2"));
    posCaption->setGeometry(20, 112, 70, 28);
    posCaption->setStyleSheet(darkText);
    m_add = new QPushButton(tr("添加"), this);
    m_deselect = new QPushButton(tr("取消选择"), this);
    m_add->setGeometry(90, 112, 80, 28);
    m_deselect->setGeometry(180, 112, 90, 28);
    for (QPushButton *button : {m_add, m_deselect}) {
        button->setFont(QFont(QStringLiteral("Microsoft YaHei")));
        button->setStyleSheet(blueText);
        connect(button, &QPushButton::clicked, this, &DataService::onClicked);
    }

    /* Read-back is on unless the operator turns it off; such copies make no card safe to clear. */
    m_verify = new QCheckBox(tr("读回校验副本"), this);
    m_verify->setObjectName(QStringLiteral("checkBox_verify"));
    m_verify->setGeometry(440, 112, 146, 28);
    m_verify->setChecked(true);
    m_verify->setToolTip(
        tr("每个副本写入后从磁盘读回并比对校验值。不校验的副本不能让相机卡成为可安全清空。"));
    m_sorties = new QCheckBox(tr("自动区分架次"), this);
    m_sorties->setObjectName(QStringLiteral("checkBox_2"));
    m_sorties->setGeometry(20, 150, 130, 24);
    m_split = new QCheckBox(tr("添加分卷"), this);
    m_split->setObjectName(QStringLiteral("checkBox"));
    m_split->setGeometry(160, 150, 100, 24);
    m_size = new QLineEdit(this);
    m_size->setObjectName(QStringLiteral("lineEdit_2"));
    m_size->setGeometry(260, 150, 70, 24);
    /* A positive number: "1.5" and "20" pass, "0" and letters do not. */
    m_size->setValidator(new QRegularExpressionValidator(
        QRegularExpression(
            QStringLiteral("^(([0-9]+.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*.[0-9]+)|("
                           "[0-9]*[1-9][0-9]*))$")),
        m_size));
    m_unit = new QComboBox(this);
    m_unit->setObjectName(QStringLiteral("comboBox"));
    m_unit->addItems({QStringLiteral("GB"), QStringLiteral("MB")});
    m_unit->setGeometry(335, 150, 60, 24);
    m_usePassword = new QCheckBox(tr("添加密码"), this);
    m_usePassword->setObjectName(QStringLiteral("checkBox_3"));
    m_usePassword->setGeometry(410, 150, 90, 24);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("lineEdit_3"));
    m_password->setGeometry(500, 150, 86, 24);
    for (QCheckBox *box : {m_verify, m_sorties, m_split, m_usePassword})
        box->setStyleSheet(darkText);

    m_text = new QTextEdit(this);
    m_text->setObjectName(QStringLiteral("textEdit"));
    m_text->setGeometry(20, 186, 566, 220);
    m_text->setReadOnly(true);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setGeometry(20, 418, 440, 22);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar{border:none;text-align:center;background:rgb(210, 225, 240);}"
                       "QProgressBar::chunk{background:rgb(0, 160, 230);}"));
    m_progress->setValue(0);
    m_speed = new QLabel(this);
    m_speed->setGeometry(470, 418, 116, 22);
    m_speed->setStyleSheet(darkText);
    m_start = new Mylabel(this);
    m_start->setImage(QString::fromLatin1(beginPicture));
    m_start->setGeometry(248, 452, 110, 36);
    connect(m_start, &Mylabel::clicked, this, &DataService::onClicked);

    connect(&m_controller, &OffloadController::progressChanged, this, &DataService::onProgress);
    connect(&m_controller, &OffloadController::finished, this, &DataService::onFinished);
    connect(&m_controller, &OffloadController::lensFailed, this,
            [this](int disk, const QString &reason) {
                m_failures << tr("%1停止：%2").arg(LensTable::lens(disk).word, reason);
                refreshText();
            });
    connect(&m_controller, &OffloadController::problem, this, [this](const QString &message) {
        m_failures << message;
        refreshText();
    });
    connect(MyReadExcelThread::instance(), &MyReadExcelThread::newObject, this,
            &DataService::slotnewObject, Qt::QueuedConnection);
    connect(Orvex::instance()->titleBar(), &TitleBar::signalclose, this,
            &DataService::onsignalclose);
    connect(Orvex::instance(), &Orvex::pageShown, this, [this](int entry) {
        if (entry == Orvex::ImageEntry)
            offerResume();
    });
}

QString DataService::text() const
{
    return m_text->toPlainText();
}

int DataService::progress() const
{
    return m_progress->value();
}

void DataService::refreshText()
{
    QStringList lines;
    for (const QString &line : m_lensLines)
        if (!line.isEmpty())
            lines << line;
    lines << m_posLines << m_statusLines << m_failures;
    lines.removeAll(QString());
    m_text->setPlainText(lines.join(QLatin1Char('\n')));
}

void DataService::onClicked()
{
    QObject *source = sender();
    for (int disk = 0; disk < LensTable::count; ++disk)
        if (source == m_lensButtons[static_cast<size_t>(disk)])
            return chooseLens(disk);
    if (source == m_path || source == m_browse)
        chooseSaveDir();
    else if (source == m_add)
        addPosFile();
    else if (source == m_deselect)
        forgetPosFiles();
    else if (source == m_start)
        startOrPause();
}

void DataService::chooseLens(int disk)
{
    /* Start where the lens's card keeps its photos, when it is plugged in. */
    QString start;
    for (const Card &card : CardFinder::find(VolumeQuery::mountedVolumes()))
        if (card.disk == disk)
            start = card.photoFolder.isEmpty() ? card.volume.mountPath : card.photoFolder;
    const QString folder = DialogPresenter::instance()->askDirectory(this, tr("请选择"), start);
    if (folder.isEmpty())
        return;
    int photos = 0;
    qint64 bytes = 0;
    CardFinder::measure(folder, &photos, &bytes);
    if (QDir(folder).isEmpty()) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("目录下没有照片"), QString());
        return;
    }
    m_sources[static_cast<size_t>(disk)] = photos > 0 ? folder : QString();
    showLensLine(disk, photos);
}

void DataService::showLensLine(int disk, int photos)
{
    const Lens &lens = LensTable::lens(disk);
    const bool chosen = photos > 0;
    m_lensButtons[static_cast<size_t>(disk)]->setImage(chosen ? lens.iconSelected
                                                              : lens.iconNormal);
    m_lensLines[static_cast<size_t>(disk)] =
        chosen ? tr("%1共%2张").arg(lens.word).arg(photos) : QString();
    refreshText();
}

void DataService::chooseSaveDir()
{
    const QString folder = DialogPresenter::instance()->askDirectory(this, tr("请选择"), QString());
    if (folder.isEmpty())
        return;
    m_saveDir = folder;
    m_saveLabel->setText(folder);
}

void DataService::addPosFile()
{
    const QString file =
        DialogPresenter::instance()->askOpenFile(this, tr("请选择"), tr("excel(*.xls *.xlsx)"));
    if (file.isEmpty())
        return;
    m_posLines << tr("正在读取%1").arg(file);
    refreshText();
    m_add->setEnabled(false);
    MyReadExcelThread::instance()->load(file);
}

void DataService::slotnewObject(MyExcelObject *table)
{
    std::unique_ptr<MyExcelObject> owned(table);
    m_posLines.removeAll(tr("正在读取%1").arg(table->path));
    m_add->setEnabled(true);
    /* A table that did not load is named, and the reading line does not stay. */
    if (!table->error.isEmpty() || table->positionList.isEmpty()) {
        DialogPresenter::instance()->warn(
            Orvex::instance(), tr("POS文件读取失败"),
            table->error.isEmpty() ? tr("%1 中没有POS记录").arg(table->path) : table->error);
        refreshText();
        return;
    }
    if (!m_posTables.contains(table->path)) {
        m_posTables << table->path;
        m_posLines
            << tr("添加成功 %1   POS个数%2").arg(table->path).arg(table->positionList.size());
    }
    refreshText();
}

void DataService::forgetPosFiles()
{
    m_posTables.clear();
    m_posLines.clear();
    refreshText();
}

void DataService::setInputsEnabled(bool enabled)
{
    for (Mylabel *button : m_lensButtons)
        button->setEnabled(enabled);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{m_path, m_browse, m_add, m_deselect, m_sorties, m_split,
                                          m_size, m_unit, m_usePassword, m_password})
        widget->setEnabled(enabled);
}

void DataService::startOrPause()
{
    QString error;
    if (m_state == Running) {
        m_controller.stop();
        m_state = Paused;
        m_start->setImage(QString::fromLatin1(beginPicture));
        m_speed->clear();
        return;
    }
    if (m_state == Paused) {
        if (!m_controller.resume(VolumeQuery::mountedVolumes(), &error, m_verify->isChecked())) {
            DialogPresenter::instance()->warn(Orvex::instance(), tr("无法继续"), error);
            return;
        }
        m_state = Running;
        m_start->setImage(QString::fromLatin1(pausePicture));
        return;
    }
    OffloadPlan plan;
    for (int disk = 0; disk < LensTable::count; ++disk)
        if (!m_sources[static_cast<size_t>(disk)].isEmpty())
            plan.sources.append({disk, m_sources[static_cast<size_t>(disk)]});
    if (plan.sources.isEmpty() || m_saveDir.isEmpty())
        return;
    plan.saveDir = m_saveDir;
    plan.posTables = m_posTables;
    plan.sorties = m_sorties->isChecked();
    plan.readBack = m_verify->isChecked();
    if (m_split->isChecked()) {
        plan.splitText = m_size->text() + m_unit->currentText();
        plan.splitMiB = OffloadController::parseSize(plan.splitText);
    }
    if (m_usePassword->isChecked())
        plan.password = m_password->text().toUtf8();
    const QList<Volume> volumes = VolumeQuery::mountedVolumes();
    if (!m_controller.prepare(plan, volumes, &error)) {
        if (error.startsWith(QLatin1String("not enough free space"))) {
            const QStorageInfo storage(m_saveDir);
            DialogPresenter::instance()->warn(
                Orvex::instance(), storage.rootPath() + tr("盘空间不足,请重新选择目录！"),
                QString());
        } else {
            DialogPresenter::instance()->warn(Orvex::instance(), tr("无法开始传输"), error);
        }
        return;
    }
    if (!m_controller.start(&error)) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("无法开始传输"), error);
        return;
    }
    m_failures.clear();
    m_state = Running;
    m_lastBytes = 0;
    setInputsEnabled(false);
    m_progress->setValue(0);
    m_start->setImage(QString::fromLatin1(pausePicture));
}

void DataService::offerResume()
{
    if (m_state != Idle)
        return;
    QString error;
    const std::optional<TaskConfig> config =
        TaskConfig::read(TaskConfig::path(AppPaths::dataDir()), &error);
    if (!config || config->success)
        return;
    if (!DialogPresenter::instance()->ask(Orvex::instance(), tr("是否继续上次任务？")))
        return;
    if (!m_controller.resume(VolumeQuery::mountedVolumes(), &error, m_verify->isChecked())) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("无法继续"), error);
        return;
    }
    m_saveDir = config->saveDir;
    m_saveLabel->setText(m_saveDir);
    for (int disk = 0; disk < LensTable::count; ++disk)
        m_sources[static_cast<size_t>(disk)] = config->pans[static_cast<size_t>(disk)].path;
    m_posTables.clear();
    for (const TaskConfig::PosTable &table : config->pose)
        m_posTables << table.path;
    m_sorties->setChecked(config->sorties);
    m_split->setChecked(config->split);
    m_usePassword->setChecked(config->usePassword);
    m_password->setText(config->password);
    m_state = Running;
    setInputsEnabled(false);
    m_start->setImage(QString::fromLatin1(pausePicture));
}

void DataService::onProgress(int done, int planned)
{
    if (m_state != Running)
        return; /* a late report of a transfer that ended or was paused */
    int sum = 0;
    int total = 0;
    qint64 bytes = 0;
    m_controller.totals(&sum, &total, &bytes);
    m_progress->setRange(0, std::max(planned, 1));
    m_progress->setValue(done);
    m_statusLines = lensLines();
    /* Each report comes 200 ms after the last. */
    m_speed->setText(tr("%1M/s").arg((bytes - m_lastBytes) / 1048576.0 * 5, 0, 'f', 1));
    m_lastBytes = bytes;
    refreshText();
}

QString DataService::lensLines() const
{
    QStringList lines;
    for (const LensSummary &s : m_controller.summary())
        lines << tr("%1共%2张,已传%3张,已复制%4张,已校验%5张")
                     .arg(s.folder)
                     .arg(s.planned)
                     .arg(s.done)
                     .arg(s.copied)
                     .arg(s.verified);
    return lines.join(QLatin1Char('\n'));
}

void DataService::onFinished(bool ok)
{
    m_state = Idle;
    setInputsEnabled(true);
    m_start->setImage(QString::fromLatin1(beginPicture));
    m_speed->clear();
    if (!ok) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("传输未完成"),
                                          m_failures.join(QLatin1Char('\n')));
        return;
    }
    for (int disk = 0; disk < LensTable::count; ++disk)
        m_lensButtons[static_cast<size_t>(disk)]->setImage(LensTable::lens(disk).iconNormal);
    const QString verified = m_controller.allVerified()
                                 ? tr("全部文件的副本已读回校验")
                                 : tr("有文件的副本未经读回校验，这些相机卡不能算作可安全清空");
    m_statusLines =
        tr("传输已完成") + QLatin1Char('\n') + verified + QLatin1Char('\n') + lensLines();
    refreshText();
    DialogPresenter::instance()->warn(Orvex::instance(), tr("传输已经完成！"), verified);
}

void DataService::onsignalclose()
{
    /* The workers stop between photos and Taskconfig.xml records where they are. */
    if (m_state == Running)
        m_controller.stop();
}
