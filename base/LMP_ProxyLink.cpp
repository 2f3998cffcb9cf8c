// Counts of the record-to-proxy link.
#include "base/LMP_ProxyLink.h"

LMP_Proxy::~LMP_Proxy() {
  // In the normal course the record released us first; if it still names
  // this proxy, make sure it never follows the pointer again.
  if (model && link && *link == this) *link = nullptr;
  model = nullptr;
}

bool LMP_Proxy::dispatchCallback(LMP_Engine*, int, va_list) { return false; }

void LMP_iAssignProxy(MDL_Proxy* link, LMP_Proxy* proxy) {
  if (!link || *link == proxy) return;
  if (LMP_Proxy* old = *link) {
    *link = nullptr;
    old->model = nullptr;
    old->link = nullptr;
    if (--old->refCount == 0) delete old;
  }
  *link = proxy;
  if (proxy) {
    ++proxy->refCount;
    proxy->link = link;
  }
}

void LMP_iReleaseProxy(MDL_Proxy* link) {
  if (!link || !*link) return;
  LMP_Proxy* proxy = *link;
  *link = nullptr;
  proxy->model = nullptr;
  proxy->link = nullptr;
  if (--proxy->refCount == 0) delete proxy;
}
