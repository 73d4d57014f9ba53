// The benchmark's mailbox on GTK: each post attaches a one-shot source to
// the default main context at the priority of GDK's input events. Attaching
// wakes the context wherever its thread is polling it, and the source is
// dispatched by whatever iterates the context there: the batch's pumping
// or its wait.
#include <glib.h>

#include <utility>

#include "bench/poster.h"

namespace bench {

struct Mailbox::Impl {
  std::function<void(Clock::time_point)> handler;
};

namespace {

struct Letter {
  Mailbox::Impl* box;
  Clock::time_point posted;
};

gboolean Deliver(gpointer data) {
  const auto* letter = static_cast<Letter*>(data);
  letter->box->handler(letter->posted);
  return G_SOURCE_REMOVE;
}

void Discard(gpointer data) { delete static_cast<Letter*>(data); }

}  // namespace

Mailbox::Mailbox(std::function<void(Clock::time_point)> handler)
    : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
}

Mailbox::~Mailbox() = default;

void Mailbox::Post(Clock::time_point posted) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, Deliver, new Letter{impl_.get(), posted},
                        Discard);
  g_source_attach(source, nullptr);
  g_source_unref(source);
}

}  // namespace bench
