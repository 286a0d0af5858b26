// The broker connection on a thread of its own, over libmosquitto.
#include "tools/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace rvxctl {

MqttLink::~MqttLink() {
  if (mosq_ != nullptr) Stop("", "");
}

bool MqttLink::Start(const MqttSettings &settings, std::string *why) {
  settings_ = settings;
  mosquitto_lib_init();
  mosq_ = mosquitto_new(settings.client_id.c_str(), true, this);
  if (mosq_ == nullptr) return *why = "cannot make an MQTT client", false;
  // Published from the bridge's own thread while this one does the network.
  mosquitto_threaded_set(mosq_, true);
  mosquitto_connect_callback_set(mosq_, OnConnect);
  mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
  mosquitto_message_callback_set(mosq_, OnMessage);
  int rc = MOSQ_ERR_SUCCESS;
  if (!settings.user.empty()) {
    rc = mosquitto_username_pw_set(mosq_, settings.user.c_str(), settings.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && settings.tls) {
    auto text = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
    rc = mosquitto_tls_set(mosq_, text(settings.cafile), text(settings.capath),
                           text(settings.certfile), text(settings.keyfile), nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && !settings.will_topic.empty()) {
    rc = mosquitto_will_set(mosq_, settings.will_topic.c_str(),
                            static_cast<int>(settings.will_payload.size()),
                            settings.will_payload.data(), 1, true);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *why = mosquitto_strerror(rc);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MqttLink::Stop(const std::string &last_topic, const std::string &last_payload) {
  if (mosq_ == nullptr) return;
  if (connected_ && !last_topic.empty()) Publish(last_topic, last_payload, true);
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  // Queued behind the last publish, so the broker has both.
  mosquitto_disconnect(mosq_);
  // A connection attempt to a host that does not answer can take minutes;
  // the thread is then left to the end of the process, with its client.
  std::unique_lock<std::mutex> hold(lock_);
  if (!wake_.wait_for(hold, std::chrono::seconds(3), [this] { return ended_; })) {
    hold.unlock();
    thread_.detach();
    mosq_ = nullptr;
    return;
  }
  hold.unlock();
  thread_.join();
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  mosquitto_lib_cleanup();
}

bool MqttLink::Publish(const std::string &topic, const std::string &payload, bool retain) {
  if (!connected_) return false;
  return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, retain) == MOSQ_ERR_SUCCESS;
}

std::vector<MqttMessage> MqttLink::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<MqttMessage> taken(inbox_.begin(), inbox_.end());
  inbox_.clear();
  return taken;
}

void MqttLink::OnConnect(mosquitto *mosq, void *self, int rc) {
  auto *link = static_cast<MqttLink *>(self);
  if (rc != 0) {
    fprintf(stderr, "rvxctl bridge: the broker refused the connection: %s\n",
            mosquitto_connack_string(rc));
    return;
  }
  for (const std::string &filter : link->settings_.subscriptions) {
    mosquitto_subscribe(mosq, nullptr, filter.c_str(), 1);
  }
  link->connected_ = true;
  link->sessions_++;
  fprintf(stderr, "rvxctl bridge: connected to %s:%d\n", link->settings_.host.c_str(),
          link->settings_.port);
}

void MqttLink::OnDisconnect(mosquitto *, void *self, int rc) {
  auto *link = static_cast<MqttLink *>(self);
  const bool was = link->connected_.exchange(false);
  if (was && rc != 0 && !link->stopping_) {
    fprintf(stderr, "rvxctl bridge: lost the broker; reconnecting\n");
  }
}

void MqttLink::OnMessage(mosquitto *, void *self, const mosquitto_message *m) {
  auto *link = static_cast<MqttLink *>(self);
  MqttMessage message{m->topic, std::string(static_cast<const char *>(m->payload),
                                            static_cast<size_t>(m->payloadlen))};
  std::lock_guard<std::mutex> hold(link->lock_);
  // A flood is cut at the oldest end: the bridge answers what it keeps.
  if (link->inbox_.size() >= 10000) link->inbox_.pop_front();
  link->inbox_.push_back(std::move(message));
}

bool MqttLink::Pause(int seconds) {
  std::unique_lock<std::mutex> hold(lock_);
  return !wake_.wait_for(hold, std::chrono::seconds(seconds), [this] { return stopping_.load(); });
}

void MqttLink::Run() {
  int pause = settings_.first_pause;
  bool first = true;
  uint32_t sessions_before = 0;
  std::string last_failure;
  while (!stopping_) {
    const int rc = first ? mosquitto_connect(mosq_, settings_.host.c_str(), settings_.port,
                                             settings_.keepalive)
                         : mosquitto_reconnect(mosq_);
    first = false;
    if (rc == MOSQ_ERR_SUCCESS) {
      int loop = MOSQ_ERR_SUCCESS;
      while (loop == MOSQ_ERR_SUCCESS && !stopping_) loop = mosquitto_loop(mosq_, 100, 1);
      // A clean end of our own DISCONNECT still needs its packets written.
      if (stopping_) {
        for (int i = 0; i < 20 && mosquitto_loop(mosq_, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
        break;
      }
      connected_ = false;
    }
    // A session that came up starts the pauses over.
    if (sessions_ != sessions_before) pause = settings_.first_pause;
    sessions_before = sessions_;
    const std::string failure =
        rc == MOSQ_ERR_ERRNO ? "cannot reach the broker" : mosquitto_strerror(rc);
    if (rc != MOSQ_ERR_SUCCESS && failure != last_failure) {
      fprintf(stderr, "rvxctl bridge: %s:%d: %s; trying again, at most every %d s\n",
              settings_.host.c_str(), settings_.port, failure.c_str(), settings_.last_pause);
    }
    last_failure = rc != MOSQ_ERR_SUCCESS ? failure : "";
    if (!Pause(pause)) break;
    pause = std::min(pause * 2, settings_.last_pause);
  }
  std::lock_guard<std::mutex> hold(lock_);
  ended_ = true;
  wake_.notify_all();
}

}  // namespace rvxctl
