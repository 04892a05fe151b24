// "Export…": the open video, or a range of it, converted with the window's recipe by
// pelorin-convert, with a progress dialog that can cancel it.
#include "export_run.h"
#include "form1.h"

#include "command_line.h"
#include "layout.h"
#include "picture_menu.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>

namespace pelorin::window {

QString ConvertProgram(const QString& programFolder)
{
    const QString besideUs = QDir(programFolder).filePath("pelorin-convert");
    return QFileInfo(besideUs).isExecutable() ? besideUs : "pelorin-convert";
}

ExportChoice AskWhereToExport(QWidget* parent, const QString& suggestedPath, const QString& fromShown)
{
    QDialog dialog(parent);
    dialog.setWindowTitle("Export");
    auto* form = new QFormLayout(&dialog);
    auto* path = new QLineEdit(suggestedPath);
    path->setMinimumWidth(360);
    auto* browse = new QPushButton("Browse…");
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path);
    pathRow->addWidget(browse);
    form->addRow("File:", pathRow);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString chosen = QFileDialog::getSaveFileName(&dialog, "Export to",
            path->text(),
            "Lossless video (*.mkv *.avi);;MP4 video (*.mp4);;GIF (*.gif);;TVC clip program "
            "(*.cas);;TVC video memory (*.vram);;Numbered pictures (*.png *.ppm *.bmp);;All "
            "files (*)",
            nullptr, QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty())
            path->setText(chosen);
    });
    auto* frames = new QComboBox;
    frames->addItem("The whole video");
    frames->addItem(QString("From the frame shown on (%1)").arg(fromShown));
    frames->addItem("Frames or times, as --frames takes them:");
    auto* typed = new QLineEdit;
    typed->setPlaceholderText("0:299, 120:, 5s:12.5s");
    typed->setEnabled(false);
    QObject::connect(frames, &QComboBox::currentIndexChanged, typed,
        [typed](int index) { typed->setEnabled(index == 2); });
    form->addRow("Frames:", frames);
    form->addRow("", typed);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("Export");
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || path->text().trimmed().isEmpty())
        return {};
    const int range = frames->currentIndex();
    return { path->text().trimmed(),
        range == 0       ? QString()
            : range == 1 ? fromShown
                         : typed->text().trimmed() };
}

ExportRun* Form1::StartExport(const ExportChoice& choice)
{
    if (m_export && m_export->Running()) {
        m_environment.showMessage(
            MessageKind::Warning, "An export is running; wait for it or cancel it first.");
        return nullptr;
    }
    const TvcMode* mode = ModeOfOption2(SelectedMode());
    if (m_videoPath.empty() || !mode) {
        m_environment.showMessage(MessageKind::Warning,
            m_videoPath.empty()
                ? QString("No video is open, so there is nothing to export: open a video first "
                          "(\"Play AVI\" or \"Open video…\").")
                : QString("No TVC mode is chosen, so there is nothing to export."));
        return nullptr;
    }
    const QStringList arguments = ExportArguments(RecipeOfControls(*mode), choice.frames,
        QString::fromStdString(m_videoPath), choice.path);
    m_export.reset();
    m_export = std::make_unique<ExportRun>(
        ConvertProgram(QString::fromStdString(ProgramFolder())), arguments);
    return m_export.get();
}

void Form1::Export_Click()
{
    const std::optional<int64_t> frame = ShownFrame();
    const TvcMode* mode = ModeOfOption2(SelectedMode());
    const QString input = QString::fromStdString(m_videoPath);
    const QString folder = input.isEmpty() ? QDir::currentPath() : QFileInfo(input).absolutePath();
    const QString suggested = QDir(folder).filePath(
        QString("%1-g%2-%3.mkv")
            .arg(QFileInfo(input).completeBaseName(), QString::number(mode ? mode->number : 16),
                CommandLineMethodName(m_option1Group->checkedId())));
    const ExportChoice choice = m_environment.chooseExport(
        suggested, frame ? QString::number(*frame) + ":" : QString("0:"));
    if (choice.path.isEmpty())
        return;
    ExportRun* run = StartExport(choice);
    if (!run)
        return;
    auto* progress = new QProgressDialog(
        QString("Exporting to %1…").arg(QFileInfo(choice.path).fileName()), "Cancel", 0, 0, this);
    progress->setWindowTitle("Export");
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(run, &ExportRun::progressed, progress,
        [progress](qint64 done, qint64 total, double framesPerSecond, const QString& left) {
            progress->setMaximum(int(std::min<qint64>(total, INT32_MAX)));
            progress->setValue(int(std::min<qint64>(done, INT32_MAX)));
            progress->setLabelText(QString("Frame %1 of %2, %3 frames a second, %4 left")
                                       .arg(done)
                                       .arg(total)
                                       .arg(framesPerSecond, 0, 'f', 1)
                                       .arg(left));
        });
    connect(progress, &QProgressDialog::canceled, run, [run] { run->Cancel(); });
    connect(run, &ExportRun::finished, progress, [this, run, progress] {
        progress->hide();
        progress->deleteLater();
        if (run->Succeeded())
            m_environment.showMessage(MessageKind::Information, run->Summary().trimmed());
        else
            m_environment.showMessage(MessageKind::Warning, run->Error());
    });
    progress->show();
}

} // namespace pelorin::window
