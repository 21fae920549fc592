// SPDX-License-Identifier: MIT
// The wizard window's news of long work: a short text in the place of the tree or the article
// list while they load, and where the download stands during Finish. The texts are the form's
// text holders, so they come in the wizard's language from the resource file.

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "qt/qt_translations.hpp"
#include "qt/wizard_view.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {
namespace {

// Work that ends sooner than this needs no words: the hourglass says enough.
constexpr int kBusyTextDelayMs = 300;
constexpr int kBusyTextRefreshMs = 100;

QString filled(const std::string& caption,
               std::initializer_list<std::pair<const char*, QString>> values) {
    QString text = QString::fromStdString(caption);
    for (const auto& [placeholder, value] : values) text.replace(QLatin1String(placeholder), value);
    return text;
}

// Whole seconds under two minutes, whole minutes under two hours, then hours and minutes: as
// precise as an estimate of this kind deserves.
QString duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    if (whole < 120) return QStringLiteral("%1 s").arg(whole);
    const long long minutes = (whole + 59) / 60;
    if (minutes < 120) return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

// Counts are written as the wizard's language writes them: 100,000 or 100.000.
QLocale localeOf(int32_t languageId) {
    const std::string name = localeOfLanguageId(languageId);
    return name.empty() ? QLocale(QLocale::English) : QLocale(QString::fromStdString(name));
}

}  // namespace

void WizardView::buildNews(QWidget* downloadPage) {
    busyText_ = new QLabel(canvas_);
    busyText_->setObjectName(QStringLiteral("busyText"));
    busyText_->setAlignment(Qt::AlignCenter);
    busyText_->setWordWrap(true);
    busyText_->setAutoFillBackground(true);
    busyText_->setBackgroundRole(QPalette::Base);
    busyText_->setFrameShape(QFrame::StyledPanel);
    busyText_->hide();
    busyWatch_ = new QTimer(this);
    busyWatch_->setInterval(kBusyTextRefreshMs);
    connect(busyWatch_, &QTimer::timeout, this, [this] { showBusyText(); });

    progressText_ = new QLabel(downloadPage);
    progressText_->setObjectName(QStringLiteral("progressText"));
    progressText_->setTextFormat(Qt::PlainText);
    progressText_->hide();
}

void WizardView::busyChanged(bool busy) {
    if (busy) {
        busySince_.start();
        busyWatch_->start();
        return;
    }
    busyWatch_->stop();
    busyText_->hide();
}

void WizardView::showBusyText() {
    if (busySince_.elapsed() < kBusyTextDelayMs) return;
    // The text stands where the loaded rows will appear; the control below it shows what the
    // form has already thrown away.
    QWidget* place = nullptr;
    QString text;
    const QLocale locale = localeOf(wiz_.GUILangID);
    if (wiz_.TreeLoading) {
        // Leaving the field selection, the tree is built before its step shows: the text
        // stands on the page the user still sees.
        place = tvTree_->isVisibleTo(this) ? static_cast<QWidget*>(tvTree_) : shownPage();
        text = wiz_.tvTree.Count() > 0 ? filled(wiz_.lblLoadingNodes.Caption,
                                                {{"@#@", locale.toString(wiz_.tvTree.Count())}})
                                       : QString::fromStdString(wiz_.lblLoading.Caption);
    } else if (wiz_.ArticlesRead >= 0) {
        place = lvList_;
        text = wiz_.ArticlesRead > 0 ? filled(wiz_.lblLoadingArticles.Caption,
                                              {{"@#@", locale.toString(wiz_.ArticlesRead)}})
                                     : QString::fromStdString(wiz_.lblLoading.Caption);
    }
    if (place == nullptr) {
        busyText_->hide();
        return;
    }
    busyText_->setGeometry(QRect(place->mapTo(canvas_, QPoint(0, 0)), place->size()));
    if (busyText_->text() != text) {
        busyText_->setText(text);
        busyText_->setAccessibleName(text);
    }
    if (!busyText_->isVisible()) {
        busyText_->raise();
        busyText_->show();
    }
}

void WizardView::renderProgressText() {
    const ProgressBar& bar = wiz_.prgDownload;
    const bool downloading = bar.Visible && wiz_.Busy != 0 && !wiz_.ArticleDownloading.empty();
    if (!downloading) {
        progressText_->hide();
        downloadClock_.invalidate();
        return;
    }
    const auto place = static_cast<long long>(std::lround(bar.Value));
    const auto all = static_cast<long long>(std::lround(bar.Max));
    const QLocale locale = localeOf(wiz_.GUILangID);
    QString text = filled(wiz_.lblProgressArticle.Caption,
                          {{"@#@", locale.toString(place)},
                           {"@all@", locale.toString(all)},
                           {"@id@", QString::fromStdString(wiz_.ArticleDownloading)}});
    // The clock starts with the first article; from the second on, the articles done so far
    // tell how long the rest will take.
    if (!downloadClock_.isValid() || place < firstPlaceTimed_) {
        downloadClock_.start();
        firstPlaceTimed_ = place;
    }
    const long long done = place - firstPlaceTimed_;
    if (done > 0) {
        const double perArticle =
            static_cast<double>(downloadClock_.elapsed()) / 1000.0 / static_cast<double>(done);
        const double left = perArticle * static_cast<double>(all - place + 1);
        text += QStringLiteral("  \u2013  ") +
                filled(wiz_.lblTimeLeft.Caption, {{"@time@", duration(left)}});
    }
    const QRect below = prgDownload_->geometry().translated(0, prgDownload_->height() + 8);
    progressText_->setGeometry(below.x(), below.y(), below.width(),
                               progressText_->fontMetrics().height() + 4);
    if (progressText_->text() != text) {
        progressText_->setText(text);
        progressText_->setAccessibleName(text);
    }
    progressText_->show();
}

}  // namespace ovk
