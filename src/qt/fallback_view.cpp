// SPDX-License-Identifier: MIT
#include "qt/fallback_view.hpp"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace ovk {

FallbackView::FallbackView(Form& form, QWidget* parent) : FormView(form, parent) {
    const QString name =
        QString::fromUtf8(form.formName().data(), static_cast<qsizetype>(form.formName().size()));
    setWindowTitle(name);
    setObjectName(name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this,
            [this] { callHandler([this] { this->form().requestClose(); }); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buttons);
    resize(320, 80);
}

}  // namespace ovk
