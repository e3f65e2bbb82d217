#include "shell/XVAbout.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/ProductInfo.h"
#include "shell/XVControls.h"

XVAbout* XVAbout::ShareAbout() {
  static QPointer<XVAbout> instance;
  if (!instance) instance = new XVAbout();
  return instance;
}

XVAbout::XVAbout() {
  setWindowTitle(QStringLiteral("About %1").arg(ProductInfo::AppName()));
  setModal(true);
  setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(XVImageNamed(QStringLiteral("app_icon")));
  icon->setAlignment(Qt::AlignCenter);
  textAPPName_ = new QLabel(ProductInfo::AppName(), this);
  QFont bold = textAPPName_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  textAPPName_->setFont(bold);
  textAPPName_->setAlignment(Qt::AlignCenter);
  textAPPVersion_ = new QLabel(QStringLiteral("Version %1").arg(ProductInfo::Version()), this);
  textAPPVersion_->setAlignment(Qt::AlignCenter);
  auto* more = new QPushButton(QStringLiteral("More Info"), this);
  connect(more, &QPushButton::clicked, this, &XVAbout::clickMoreInfo);
  layout->addWidget(icon);
  layout->addWidget(textAPPName_);
  layout->addWidget(textAPPVersion_);
  layout->addWidget(more, 0, Qt::AlignCenter);
}

void XVAbout::showAbout() { exec(); }

void XVAbout::clickMoreInfo() { QDesktopServices::openUrl(ProductInfo::ProductInfoWebPageUrlString()); }
