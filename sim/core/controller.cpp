/*
 * The registry of controllers and handles, and the controller helpers.
 */
#include "controller.h"

#include "events.h"
#include "world.h"

#include <map>
#include <mutex>
#include <vector>

namespace zsim {

namespace detail {

struct Registry {
    std::mutex mutex; /* a leaf: nothing else is taken while it is held */
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
    std::vector<std::shared_ptr<Controller>> all;
    {
        std::lock_guard<std::mutex> guard(registry().mutex);
        for (auto &entry : registry().by_address)
            all.push_back(entry.second);
    }
    for (const auto &c : all)
        f(*c);
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
    std::lock_guard<std::mutex> guard(r.mutex);
    const auto it = r.by_handle.find(*handle);
    return it == r.by_handle.end() ? nullptr : it->second;
}

std::shared_ptr<Controller> find_controller(const char *address)
{
    if (!address)
        return nullptr;
    auto &r = detail::registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    const auto it = r.by_address.find(address);
    return it == r.by_address.end() ? nullptr : it->second;
}

RobotHandle open_handle(const char *address)
{
    auto &r = detail::registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    std::shared_ptr<Controller> &c = r.by_address[address];
    if (!c) {
        c = std::make_shared<Controller>(address);
        motion::attach(*c);
        world::enter(*c, address);
        c->monitor.at_rest(c->situation(), c->joints); /* what its joints feel before anything moves */
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
    auto &r = detail::registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.by_handle.erase(handle) > 0;
}

ErrorCode check_handle(const RobotHandle *handle)
{
    const std::shared_ptr<Controller> c = find_controller(handle);
    if (!c)
        return kUnknownHandle;
    if (c->shut_down)
        return note(*c, kShutDown);
    return kOk;
}

ErrorCode refuse(const RobotHandle *handle, ErrorCode refused)
{
    const std::shared_ptr<Controller> c = find_controller(handle);
    if (!c)
        return kUnknownHandle;
    return note(*c, c->shut_down ? kShutDown : refused);
}

const std::string *issued_address(RobotHandle handle)
{
    auto &r = detail::registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    const auto &issued = r.issued;
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

TorqueSituation Controller::situation()
{
    world::contact_forces(*this, contacts);
    Eigen::Vector3d gravity(0, 0, -dynamics::kGravity); /* in the world: down its z */
    const auto base = world::bases().find(address);
    if (base != world::bases().end()) { /* a placed arm feels it in its own base frame */
        const std::array<double, 6> &p = base->second;
        gravity = rpy_matrix(p[3], p[4], p[5]).transpose() * gravity;
    }
    const ForceOwner owner = drag ? ForceOwner::kHand : force.admittance_on ? ForceOwner::kSensor : ForceOwner::kNone;
    return {payload, tool(), collision_level, owner, gravity, contacts};
}

ErrorCode Controller::sense(const MotionContext &, const Joints &before, bool from_rest)
{
    world::after_cycle(*this); /* its self-collision stop, and the contacts the arm now meets */
    const TorqueSituation now = situation();
    ErrorCode felt = monitor.cycle(now, before, joints, kCycle, from_rest);
    if (felt == kOk && resting()) /* come to rest: what it feels standing still */
        felt = monitor.at_rest(now, joints);
    return fault == kOk ? felt : kOk; /* an arm already stopping for an error stops for that */
}

void forget_controllers()
{
    auto &r = detail::registry();
    std::map<std::string, std::shared_ptr<Controller>> forgotten;
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        forgotten.swap(r.by_address);
        r.by_handle.clear();
        r.issued.clear();
        r.last_handle = 0;
    }
    for (auto &entry : forgotten) { /* outside the registry's mutex: ending motions is not a leaf's work */
        motion::detach(*entry.second);
        world::leave(*entry.second);
    }
}

} // namespace zsim
