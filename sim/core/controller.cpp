/*
 * The registry of controllers and handles, and the controller helpers.
 */
#include "controller.h"

#include "events.h"

#include <map>
#include <vector>

namespace zsim {

namespace detail {

struct Registry {
    std::map<std::string, std::shared_ptr<Controller>> by_address;
    std::map<RobotHandle, std::shared_ptr<Controller>> by_handle;
    RobotHandle last_handle = 0;
    std::vector<const Controller *> issued; /* issued[h - 1]: whose handle h is (controllers live until a reset) */
};

Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

void each(const std::function<void(Controller &)> &f)
{
    for (auto &entry : registry().by_address)
        f(*entry.second);
}

} // namespace detail

std::string Controller::message(ErrorCode code) const
{
    const auto it = messages.find(code);
    return it != messages.end() ? it->second : default_message(code);
}

std::shared_ptr<Controller> find_controller(const RobotHandle *handle)
{
    if (!handle)
        return nullptr;
    auto &r = detail::registry();
    const auto it = r.by_handle.find(*handle);
    return it == r.by_handle.end() ? nullptr : it->second;
}

std::shared_ptr<Controller> find_controller(const char *address)
{
    if (!address)
        return nullptr;
    auto &r = detail::registry();
    const auto it = r.by_address.find(address);
    return it == r.by_address.end() ? nullptr : it->second;
}

RobotHandle open_handle(const char *address)
{
    auto &r = detail::registry();
    std::shared_ptr<Controller> &c = r.by_address[address];
    if (!c) {
        c = std::make_shared<Controller>(address);
        motion::attach(*c);
    }
    if (c->shut_down) { /* logging in again boots it: powered off, no error, same arm and settings */
        c->shut_down = false;
        c->fault = kOk;
        c->collision = false;
        c->last_error = kOk;
    }
    const RobotHandle handle = ++r.last_handle;
    r.by_handle[handle] = c;
    r.issued.push_back(c.get());
    return handle;
}

bool close_handle(RobotHandle handle)
{
    return detail::registry().by_handle.erase(handle) > 0;
}

const std::string *issued_address(RobotHandle handle)
{
    const auto &issued = detail::registry().issued;
    if (handle < 1 || static_cast<std::size_t>(handle) > issued.size())
        return nullptr;
    return &issued[static_cast<std::size_t>(handle) - 1]->address;
}

void post_event(const Controller &c, ErrorCode code)
{
    post_callback(c.callback, code);
}

void Controller::stopped_by_error(ErrorCode code)
{
    fault = code;
    if (code == kCollision)
        collision = true;
    last_error = code;
    post_event(*this, code);
}

void forget_controllers()
{
    auto &r = detail::registry();
    for (auto &entry : r.by_address)
        motion::detach(*entry.second);
    r.by_address.clear();
    r.by_handle.clear();
    r.issued.clear();
    r.last_handle = 0;
}

} // namespace zsim
