#include "app/about_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/app_texts.h"
#include "app/artwork.h"
#include "app/click_label.h"
#include "app/dialog_host.h"
#include "app/window_style.h"
#include "run/messages.h"

namespace kestrel {
namespace {

const QColor kLinkColour(0, 95, 140);

QLabel* NamedLabel(int id, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("ctl%1").arg(id));
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(DialogHost& host, QWidget* parent) : QDialog(parent), host_(host) {
  setObjectName(QStringLiteral("CAboutDlg"));
  setWindowTitle(QStringLiteral("About ") + AppTitle());
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  ApplyBackground(this);

  auto* icon = NamedLabel(1303, QString(), this);
  icon->setPixmap(QPixmap::fromImage(DrawAppIcon(64)));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto* title = new QLabel(AppTitle(), this);
  title->setFont(Bold(font()));

  support_ = new ClickLabel(this);
  support_->setObjectName(QStringLiteral("ctl1023"));
  support_->setText(SupportPageUrl());
  vendor_ = new ClickLabel(this);
  vendor_->setObjectName(QStringLiteral("ctl1024"));
  vendor_->setText(VendorPageUrl());
  for (ClickLabel* link : {support_, vendor_}) {
    // The addresses' own colour under a light palette, the palette's link colour otherwise.
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText,
                     LightPalette() ? kLinkColour : palette.color(QPalette::Link));
    link->setPalette(palette);
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &ClickLabel::hovered, this, [this, link](bool inside) { Hover(link, inside); });
  }
  connect(support_, &ClickLabel::clicked, this, [this] { host_.OpenUrl(QUrl(SupportPageUrl())); });
  connect(vendor_, &ClickLabel::clicked, this, [this] { host_.OpenUrl(QUrl(VendorPageUrl())); });

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->addWidget(NamedLabel(1302, QStringLiteral("Product Version:"), this), 0, 0);
  grid->addWidget(NamedLabel(1025, AppText(apptext::kBuild), this), 0, 1);
  grid->addWidget(NamedLabel(1019, QStringLiteral("For Technical Support:"), this), 1, 0);
  grid->addWidget(support_, 1, 1);
  grid->addWidget(NamedLabel(1020, QStringLiteral("For other products:"), this), 2, 0);
  grid->addWidget(vendor_, 2, 1);

  auto* text = new QVBoxLayout;
  text->addWidget(title);
  text->addLayout(grid);
  auto* notice = NamedLabel(1301, AppText(apptext::kVendorNotice), this);
  notice->setWordWrap(true);
  text->addWidget(notice);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(text, 1);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ctl1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  setFixedWidth(DialogUnits(font()).X(260));
}

void CAboutDlg::Hover(ClickLabel* link, bool inside) {
  for (ClickLabel* each : {support_, vendor_}) {
    each->setFont(each == link && inside ? Underlined(font()) : font());
  }
}

}  // namespace kestrel
