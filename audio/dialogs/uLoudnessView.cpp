// Signal measurement dialog: figures as labels, clipping places and silent stretches as a list to jump from.
#include "uLoudnessView.h"

#include "uReaderTypes.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

QString DutchFigure(double AValue)
{
    if (std::isinf(AValue))
        return AValue < 0 ? QStringLiteral("\u2212\u221E") : QStringLiteral("\u221E");
    QString text = QString::number(AValue, 'f', 1);
    if (text == QLatin1String("-0.0"))
        text = QStringLiteral("0.0");
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    text.replace(QLatin1Char('-'), QChar(0x2212));
    return text;
}

namespace {

QLabel *AddLabel(QWidget *AOwner, QVBoxLayout *ALayout, const char *AName)
{
    QLabel *label = new QLabel(AOwner);
    label->setObjectName(QLatin1String(AName));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ALayout->addWidget(label);
    return label;
}

} // namespace

TfrmLoudness::TfrmLoudness(QWidget *AOwner) : QDialog(AOwner)
{
    setWindowTitle(QStringLiteral("Geluidsniveau"));
    auto *layout = new QVBoxLayout(this);
    lblIntegrated = AddLabel(this, layout, "lblIntegrated");
    lblRange = AddLabel(this, layout, "lblRange");
    lblTruePeak = AddLabel(this, layout, "lblTruePeak");
    lblSamplePeak = AddLabel(this, layout, "lblSamplePeak");
    lblMomentary = AddLabel(this, layout, "lblMomentary");
    lblShortterm = AddLabel(this, layout, "lblShortterm");
    lblCounts = AddLabel(this, layout, "lblCounts");
    lvPlaces = new QTreeWidget(this);
    lvPlaces->setObjectName(QStringLiteral("lvPlaces"));
    lvPlaces->setRootIsDecorated(false);
    lvPlaces->setHeaderLabels({QStringLiteral("Klok"), QStringLiteral("Positie"), QStringLiteral("Soort"),
                               QStringLiteral("Duur / kanaal")});
    lvPlaces->setToolTip(QStringLiteral("Dubbelklik om de afspeelpositie daarheen te zetten"));
    layout->addWidget(lvPlaces, 1);
    btnClose = new QPushButton(QStringLiteral("Sluiten"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    layout->addWidget(btnClose, 0, Qt::AlignRight);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lvPlaces, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *AItem, int) { lvPlacesDoubleClick(AItem); });
    resize(520, 480);
}

void TfrmLoudness::Setup(const TLoudnessResult &AResult, const QDateTime &ARecordingStart)
{
    lblIntegrated->setText(QStringLiteral("Geïntegreerde luidheid: %1 LUFS").arg(DutchFigure(AResult.IntegratedLufs)));
    lblRange->setText(QStringLiteral("Luidheidsbereik: %1 LU").arg(DutchFigure(AResult.RangeLu)));
    lblTruePeak->setText(QStringLiteral("Echte piek: %1 dBTP").arg(DutchFigure(AResult.TruePeakDbtp)));
    lblSamplePeak->setText(QStringLiteral("Hoogste sample: %1 dBFS").arg(DutchFigure(AResult.SamplePeakDbfs)));
    lblMomentary->setText(
        QStringLiteral("Hoogste momentane luidheid: %1 LUFS").arg(DutchFigure(AResult.MomentaryMaxLufs)));
    lblShortterm->setText(
        QStringLiteral("Hoogste kortetermijnluidheid: %1 LUFS").arg(DutchFigure(AResult.ShorttermMaxLufs)));
    QString counts = QStringLiteral("Oversturing: %1 keer; stilte: %2 keer, samen %3")
                         .arg(AResult.ClipRunCount)
                         .arg(AResult.SilentStretchCount)
                         .arg(FormatDuration(AResult.SilentSeconds));
    if (AResult.ClipRunCount > qint64(AResult.ClipRuns.size())
        || AResult.SilentStretchCount > qint64(AResult.SilentStretches.size()))
        counts += QStringLiteral(" (de lijst toont de eerste %1 van elk)").arg(MaxListedRuns);
    lblCounts->setText(counts);

    struct TRow {
        double Sec;
        QString Kind, Detail;
    };
    std::vector<TRow> rows;
    for (const TSilentStretch &s : AResult.SilentStretches)
        rows.push_back({s.StartSec, QStringLiteral("Stilte"), FormatDuration(s.EndSec - s.StartSec)});
    for (const TClipRun &c : AResult.ClipRuns)
        rows.push_back({c.StartSec, QStringLiteral("Oversturing"), QStringLiteral("kanaal %1").arg(c.Channel + 1)});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRow &ALeft, const TRow &ARight) { return ALeft.Sec < ARight.Sec; });
    lvPlaces->clear();
    for (const TRow &r : rows) {
        const QString clock = ARecordingStart.isValid()
                                  ? ARecordingStart.addMSecs(std::llround(r.Sec * 1000)).toString(QStringLiteral("HH:mm:ss"))
                                  : QString();
        auto *item = new QTreeWidgetItem(lvPlaces, {clock, FormatTimeMs(r.Sec), r.Kind, r.Detail});
        item->setData(0, Qt::UserRole, r.Sec);
    }
    lvPlaces->header()->resizeSections(QHeaderView::ResizeToContents);
}

void TfrmLoudness::lvPlacesDoubleClick(QTreeWidgetItem *AItem)
{
    if (AItem)
        emit OnJump(AItem->data(0, Qt::UserRole).toDouble());
}
