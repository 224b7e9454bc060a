// platform/app_frame.cpp - the application description, its clients and
// their resources.
#include "platform/app_frame.h"

#include "core/exception.h"

namespace bw {
namespace {

Str copyText(Text text) { return text.isNil() ? Str() : Str(text.view()); }

}  // namespace

// ---------------------------------------------------------------------------
// cAppResource
// ---------------------------------------------------------------------------

cAppResource::~cAppResource() {
  if (ownerClient_ && ownerClient_->holds(this)) ownerClient_->rem(this);
}

// ---------------------------------------------------------------------------
// cAppClient
// ---------------------------------------------------------------------------

cAppClient::~cAppClient() {
  cAppResource* res = firstResource_;
  firstResource_ = lastResource_ = nullptr;
  while (res) {
    cAppResource* next = res->nextResource_;
    res->nextResource_ = res->prevResource_ = nullptr;
    delete res;
    res = next;
  }
}

void cAppClient::add(cAppResource* res) {
  if (!res) raise("EMU", "cAppClient.add(); res=NIL");
  res->ownerClient_ = this;
  res->nextResource_ = nullptr;
  res->prevResource_ = lastResource_;
  if (lastResource_) {
    lastResource_->nextResource_ = res;
  } else {
    firstResource_ = res;
  }
  lastResource_ = res;
}

bool cAppClient::holds(const cAppResource* res) const {
  // Removal clears both links, so one taken out before is recognised too.
  return res && res->ownerClient_ == this && (res == firstResource_ || res->prevResource_);
}

cAppResource* cAppClient::rem(cAppResource* res) {
  if (!holds(res)) raise("BUG", "cAppClient.rem(); resource is not in the list");
  if (res->prevResource_) {
    res->prevResource_->nextResource_ = res->nextResource_;
  } else {
    firstResource_ = res->nextResource_;
  }
  if (res->nextResource_) {
    res->nextResource_->prevResource_ = res->prevResource_;
  } else {
    lastResource_ = res->prevResource_;
  }
  res->nextResource_ = res->prevResource_ = nullptr;
  return res;
}

// ---------------------------------------------------------------------------
// cApp
// ---------------------------------------------------------------------------

void cApp::clearDescription() {
  title_ = version_ = copyright_ = author_ = description_ = Str();
  fullWindow_ = fullScreen_ = built_ = false;
}

void cApp::newApp() {
  firstClient_ = lastClient_ = nullptr;
  clearDescription();
}

void cApp::unbuild() {
  clearDescription();
  for (cAppClient* c = firstClient_; c; c = c->nextClient_) c->unbuild();
}

void cApp::registerClient(cAppClient* client) {
  if (!client) raise("EMU", "cApp.registerClient(); client=NIL");
  client->nextClient_ = nullptr;
  if (lastClient_) {
    lastClient_->nextClient_ = client;
  } else {
    firstClient_ = client;
  }
  lastClient_ = client;
}

cApp& cApp::initTitle(Text text) {
  title_ = copyText(text);
  return *this;
}

cApp& cApp::initVersion(Text text) {
  version_ = copyText(text);
  return *this;
}

cApp& cApp::initCopyright(Text text) {
  copyright_ = copyText(text);
  return *this;
}

cApp& cApp::initAuthor(Text text) {
  author_ = copyText(text);
  return *this;
}

cApp& cApp::initDescription(Text text) {
  description_ = copyText(text);
  return *this;
}

cApp& cApp::initFullWindow() {
  if (fullScreen_) raise("EMU", "cApp.initFullWindow(); already used initFullScreen()");
  fullWindow_ = true;
  return *this;
}

cApp& cApp::initFullScreen(int32_t width, int32_t height) {
  if (fullWindow_) raise("EMU", "cApp.initFullScreen(); already used initFullWindow()");
  fullScreen_ = true;
  fullScreenWidth_ = width;
  fullScreenHeight_ = height;
  return *this;
}

void cApp::build() {
  if (built_) raise("EMU", "cApp.build(); already used build()");
  if (title_.isNil()) raise("EMU", "cApp.build(); initTitle() was not used");
  for (cAppClient* c = firstClient_; c; c = c->nextClient_) c->beforeBuild(*this);
  for (cAppClient* c = firstClient_; c; c = c->nextClient_) c->build(*this);
  built_ = true;
}

void cApp::minimise(bool flag) {
  if (!built_) raise("EMU", "cApp.minimise(); app has not been built yet");
  for (cAppClient* c = firstClient_; c; c = c->nextClient_) c->minimise(*this, flag);
}

// ---------------------------------------------------------------------------
// cAppHost
// ---------------------------------------------------------------------------

void cAppHost::newApp() {
  cApp::newApp();
  screen_ = nullptr;
}

void cAppHost::unbuild() {
  cApp::unbuild();
  screen_ = nullptr;
}

void cAppHost::setScreen(Screen screen) {
  if (screen_) raise("EMU", "cAppHost.setScreen(); the screen has already been set");
  screen_ = screen;
}

}  // namespace bw
