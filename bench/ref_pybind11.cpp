/*
 * Reference binding for the call benchmarks: the same zandrelAPI functions as
 * velmo's RC, written the way a pybind11 user would, with the same results
 * ((code,) or (0, value)) and the same handle check. Built by build_refs.sh;
 * never shipped.
 */
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "zandrelAPI.h"

#include <array>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace py = pybind11;

namespace {

struct RC {
    RobotHandle handle;

    const RobotHandle *checked() const
    {
        if (handle < 0)
            throw std::runtime_error("invalid robot control handle");
        return &handle;
    }
};

JointVector joints(const std::array<double, 6> &values)
{
    JointVector v;
    for (size_t i = 0; i < 6; i++)
        v.jVal[i] = values[i];
    return v;
}

template <class T, size_t N>
py::tuple as_tuple(const T (&values)[N])
{
    py::tuple t(N);
    for (size_t i = 0; i < N; i++)
        t[i] = values[i];
    return t;
}

template <size_t N>
py::tuple floats_from_ints(const int32_t (&values)[N])
{
    py::tuple t(N);
    for (size_t i = 0; i < N; i++)
        t[i] = static_cast<double>(values[i]);
    return t;
}

} // namespace

PYBIND11_MODULE(ref_pybind11, m)
{
    py::class_<RC>(m, "RC")
        .def(py::init([](int handle) { return RC{handle}; }))
        .def_readwrite("handle", &RC::handle)
        .def("servo_j",
             [](const RC &self, const std::array<double, 6> &joint_pos, int32_t move_mode) {
                 JointVector v = joints(joint_pos);
                 return py::make_tuple(servo_j(self.checked(), &v, move_mode));
             },
             py::arg("joint_pos"), py::arg("move_mode"))
        .def("joint_move",
             [](const RC &self, const std::array<double, 6> &joint_pos, int32_t move_mode,
                int32_t is_block, double speed) {
                 JointVector v = joints(joint_pos);
                 return py::make_tuple(joint_move(self.checked(), &v, move_mode, is_block, speed));
             },
             py::arg("joint_pos"), py::arg("move_mode"), py::arg("is_block"), py::arg("speed"))
        .def("get_joint_position",
             [](const RC &self) -> py::tuple {
                 JointVector v{};
                 ErrorCode code = get_joint_position(self.checked(), &v);
                 if (code != 0)
                     return py::make_tuple(code);
                 py::list values(6);
                 for (size_t i = 0; i < 6; i++)
                     values[i] = v.jVal[i];
                 return py::make_tuple(0, values);
             })
        .def("get_robot_status",
             [](const RC &self) -> py::tuple {
                 RobotStatusRecord s{};
                 ErrorCode code = get_robot_status(self.checked(), &s);
                 if (code != 0)
                     return py::make_tuple(code);
                 py::tuple status = py::make_tuple(
                     s.status_0, s.status_1, s.status_2, s.status_3, s.status_4, s.status_5,
                     s.status_6, static_cast<long>(s.status_7), static_cast<long>(s.status_8),
                     static_cast<long>(s.status_9), as_tuple(s.status_10), as_tuple(s.status_11),
                     as_tuple(s.status_12), as_tuple(s.status_13), floats_from_ints(s.status_14),
                     as_tuple(s.status_15), as_tuple(s.status_16), floats_from_ints(s.status_17),
                     as_tuple(s.status_18), as_tuple(s.status_19));
                 return py::make_tuple(0, status);
             })
        .def("get_exist_traj_file_name", [](const RC &self) -> py::tuple {
            const RobotHandle *handle = self.checked();
            std::unique_ptr<TrajectoryFileList, void (*)(void *)> files(
                static_cast<TrajectoryFileList *>(std::calloc(1, sizeof(TrajectoryFileList))),
                std::free);
            if (!files)
                throw std::bad_alloc();
            ErrorCode code = get_exist_traj_file_name(handle, files.get());
            if (code != 0)
                return py::make_tuple(code);
            int count = files->count < 0 ? 0 : files->count;
            if (count > ZANDREL_TRAJ_FILE_SLOTS)
                count = ZANDREL_TRAJ_FILE_SLOTS;
            py::list names(count);
            for (int i = 0; i < count; i++)
                names[i] = py::str(files->name[i], strnlen(files->name[i], ZANDREL_TRAJ_FILE_NAME_SIZE));
            return py::make_tuple(0, names);
        });
}
