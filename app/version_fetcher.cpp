#include "app/version_fetcher.h"

// lib
#include "update/version_page.h"

// Qt
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef ZPI_VENDOR_HOST
#define ZPI_VENDOR_HOST "www.zpitool.com.br"
#endif
#ifndef ZPI_VENDOR_SCHEME
#define ZPI_VENDOR_SCHEME "https"
#endif

namespace {

QUrl& TestServer() {
  static QUrl server;
  return server;
}

}  // namespace

QUrl VendorServer() {
  if (!TestServer().isEmpty()) return TestServer();
  return QUrl(QStringLiteral(ZPI_VENDOR_SCHEME "://" ZPI_VENDOR_HOST));
}

QUrl VendorAddress(const QString& path) {
  QUrl address = VendorServer();
  address.setPath(path);
  return address;
}

void SetVersionServerForTests(const QUrl& base) { TestServer() = base; }

TVersionFetcher::TVersionFetcher(QObject* parent) : QObject(parent) {
  // Redirects are followed, but never from HTTPS down to plain HTTP.
  manager_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

TVersionFetcher::~TVersionFetcher() { DropReply(); }

void TVersionFetcher::Navigate(const QUrl& url, bool noCache) {
  Stop();
  QNetworkRequest request(url);
  if (noCache) {
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
  }
  readyState_ = ReadyStateLoading;
  reply_ = manager_.get(request);
  // Keeps Qt's own buffer small; ReadAvailable drains it and stops at BodyLimit.
  reply_->setReadBufferSize(BodyLimit);
  connect(reply_, &QNetworkReply::readyRead, this, &TVersionFetcher::ReadAvailable);
  connect(reply_, &QNetworkReply::finished, this, &TVersionFetcher::ReplyFinished);
}

void TVersionFetcher::Stop() {
  DropReply();
  readyState_ = ReadyStateUninitialized;
  readable_ = false;
  body_.clear();
  contentType_.clear();
}

std::optional<std::string> TVersionFetcher::Body() const {
  if (readyState_ != ReadyStateComplete || !readable_) return std::nullopt;
  return body_;
}

std::optional<std::string> TVersionFetcher::BodyHtml() const {
  const std::optional<std::string> body = Body();
  if (!body) return std::nullopt;
  return PageBodyHtml(*body, contentType_);
}

void TVersionFetcher::ReadAvailable() {
  if (reply_ == nullptr) return;
  // One byte past the limit is enough to know the body is too long.
  while (reply_->bytesAvailable() > 0) {
    const qsizetype room = BodyLimit + 1 - static_cast<qsizetype>(body_.size());
    const QByteArray chunk = reply_->read(room);
    if (chunk.isEmpty()) break;
    body_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    if (static_cast<qsizetype>(body_.size()) > BodyLimit) {
      Complete(false);
      return;
    }
  }
}

void TVersionFetcher::ReplyFinished() {
  if (reply_ == nullptr) return;
  ReadAvailable();
  if (reply_ == nullptr) return;  // too long, already complete
  contentType_ = reply_->rawHeader("Content-Type").toStdString();
  bool readable = reply_->error() == QNetworkReply::NoError;
  const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (status.isValid()) {
    const int code = status.toInt();
    if (code < 200 || code > 299) readable = false;
  }
  Complete(readable);
}

void TVersionFetcher::Complete(bool readable) {
  DropReply();
  readyState_ = ReadyStateComplete;
  readable_ = readable;
  if (!readable) body_.clear();
  emit DocumentComplete();
}

void TVersionFetcher::DropReply() {
  if (reply_ == nullptr) return;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
}
