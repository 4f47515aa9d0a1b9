/*
 * The probe of the stand-in zandrelAPI library: lets a test read back every
 * call the library received and decide what the next call of a function does.
 *
 * Journal: the library records each call of its zandrelAPI functions (not of
 * these) as one line of JSON, {"fn": "<function>", "args": [...]}, and keeps at
 * least the last 1024. It records from the probe's first use on: the first
 * call of any of these functions starts it, and calls made before are not
 * recorded, so a process that never uses the probe pays nothing for it.
 *
 * Injections for one call of a function combine (result code, out bytes,
 * callback, delay) and are all used up by that call. With only a callback
 * and/or a delay the call otherwise behaves as usual; with a code or out bytes
 * it returns the code (0 when only out bytes were given) and writes only the
 * injected out-parameters. An injected non-zero code also becomes the
 * controller's last error, as if the controller had failed the call.
 *
 * Out-parameters are the pointer or buffer arguments the library writes,
 * numbered from 0 in argument order.
 *
 * All functions are safe to call from any thread.
 */
#ifndef ZSIM_PROBE_H
#define ZSIM_PROBE_H

#if defined(_WIN32)
#  if defined(ZANDREL_BUILD)
#    define ZSIM_PROBE_API __declspec(dllexport)
#  else
#    define ZSIM_PROBE_API __declspec(dllimport)
#  endif
#else
#  define ZSIM_PROBE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Forget the journal, the injections, the registered error callbacks and all
 * controller state: motions end (blocking callers get the aborted code),
 * controllers and handles are forgotten (handles are numbered from 1 again),
 * undelivered error events are dropped and the time scale is the default.
 * The scene is the one the process started with, and no arm is placed. */
ZSIM_PROBE_API void zsim_reset(void);

/* Calls recorded since the last reset or clear (may exceed what is kept). */
ZSIM_PROBE_API int zsim_journal_count(void);

/* Entry `index` (0 = oldest kept) as NUL-terminated text, cut to size-1 bytes.
 * Returns the entry's full length, or -1 when there is no such entry. */
ZSIM_PROBE_API int zsim_journal_entry(int index, char *buf, int size);

ZSIM_PROBE_API void zsim_journal_clear(void);

/* With 0, calls are no longer encoded or recorded (the count stays put); with
 * anything else they are again. Off at load until the probe's first use,
 * which switches it on (unless that use is this function), and on after
 * zsim_reset. Injections work either way, and so does the library's debug
 * log (set_debug_mode). Benchmarks switch it off to time the library alone. */
ZSIM_PROBE_API void zsim_journal_enable(int on);

/* The next call of `function` returns `code` and writes no out-parameter except
 * those given by zsim_inject_out. Returns 0, or -1 for an unknown function. */
ZSIM_PROBE_API int zsim_inject(const char *function, int code);

/* Calls skip+1 to skip+times of `function`, counted from the next one, each
 * return `code` as zsim_inject makes the next call do (skip 0, times 3: the
 * next three calls; skip 4, times 1: only the fifth). Injections for one call
 * combine as above. Returns 0, or -1 for an unknown function, a negative skip
 * or times below 1. */
ZSIM_PROBE_API int zsim_inject_calls(const char *function, int code, int skip, int times);

/* The next call of `function` copies `bytes` into its out-parameter `out_index`,
 * at most the parameter's declared size. Returns 0, or -1 for an unknown
 * function or index (and for a negative size, or null bytes with a size). */
ZSIM_PROBE_API int zsim_inject_out(const char *function, int out_index, const void *bytes,
                                   int size);

/* Calls the callback registered through set_error_handler with `code`: mode 0 on
 * this thread, 1 on a new thread joined before returning, 2 on a new detached
 * thread. Returns 0, or -1 when no callback is registered (or for another mode). */
ZSIM_PROBE_API int zsim_raise_error(int code, int mode);

/* The next call of `function` calls the registered callback with `code` on the
 * calling thread before it returns. Returns 0, or -1 for an unknown function. */
ZSIM_PROBE_API int zsim_inject_callback(const char *function, int code);

/* The next call of `function` takes at least `milliseconds` before it returns
 * (a negative delay counts as none). Returns 0, or -1 for an unknown function. */
ZSIM_PROBE_API int zsim_inject_delay(const char *function, int milliseconds);

/* ---- the simulation ------------------------------------------------------------ */

/* Simulated time runs `factor` times as fast as real time: 1 is real time, 10
 * ten times faster, 0 completes every motion inside the call that starts it.
 * The default is ZSIM_TIME_SCALE from the environment, else 1; zsim_reset
 * restores it. Returns 0, or non-zero for a negative or non-finite factor. */
ZSIM_PROBE_API int zsim_set_time_scale(double factor);

/* Manual time: from now on simulated time stands still except that each call
 * moves it on by `seconds`; the arms catch up with it (run the cycles that
 * fell due) as soon as any call looks at them. A blocking move waits until
 * another thread has moved the time far enough. zsim_set_time_scale returns
 * to running time. Returns 0, or non-zero for a negative or non-finite
 * number of seconds. */
ZSIM_PROBE_API int zsim_advance_time(double seconds);

/* Holds the library's lock from a thread of the library, for at most
 * `milliseconds` (> 0), and returns once it is held: 0, or -1 when a hold is
 * under way already. zsim_hold_library_lock(0) lets it go and returns 0, or 1
 * when the hold had ended by its time (something waited for it that long),
 * -1 when there was none. A test sees with it which calls wait for the lock;
 * zsim_reset ends a hold first. */
ZSIM_PROBE_API int zsim_hold_library_lock(int milliseconds);

/* Sets an input of the controller at `address` (one that a create_handler has
 * named since the last reset): a digital one to 0 or 1 (any non-zero value),
 * an analog one to `value`. Returns 0, or non-zero for an unknown address,
 * IO type or channel index. */
ZSIM_PROBE_API int zsim_set_digital_input(const char *address, int iotype, int index, int value);
ZSIM_PROBE_API int zsim_set_analog_input(const char *address, int iotype, int index, float value);

/* Stops that arm in an error state with `code` (non-zero; the collision code
 * makes it a protective stop) and reports `code` through its error callback,
 * from the library's event thread. Returns 0, or non-zero for an unknown or
 * shut-down controller or a code of 0. */
ZSIM_PROBE_API int zsim_trigger_fault(const char *address, int code);

/* ---- what the arm carries and what pushes on it (docs/virtual-controller.md) ---- */

/* The torques (N m) the joints of the arm at `address` give now (the arm it
 * really is: the payload it carries, the forces on it), into torques[6]; at
 * rest now, while it moves at its latest cycle. Returns 0, or non-zero for
 * an unknown address. */
ZSIM_PROBE_API int zsim_joint_torques(const char *address, double torques[6]);

/* The payload the arm really carries, whatever set_payload declared:
 * payload[4] = mass (kg, 0 to 100), centre x, y, z (mm, flange frame); null:
 * the declared payload again (the default). Returns 0, or non-zero for an
 * unknown address or a payload out of range. */
ZSIM_PROBE_API int zsim_set_actual_payload(const char *address, const double *payload);

/* A wrench on the arm at its TCP: force[3] (N) and torque[3] (N m) in the
 * arm's base frame, until the next call; null or zeros clear it. Returns 0,
 * or non-zero for an unknown address or a non-finite number. */
ZSIM_PROBE_API int zsim_apply_wrench(const char *address, const double *force, const double *torque);

/* The arm model's inverse dynamics for any state, as a pure function: the
 * torques (N m) into torques[6] for joints q[6] (rad), velocities v[6]
 * (rad/s), accelerations a[6] (rad/s^2), a payload[4] (mass kg, centre mm
 * in the flange frame), gravity[3] (m/s^2, base frame) and `count` forces on
 * the arm, seven numbers each in forces: the body (0..5, the link joint
 * body+1 turns; 6, the tool), the point (mm) and the force (N), base frame.
 * Returns 0, or non-zero for a non-finite number or a bad body. */
ZSIM_PROBE_API int zsim_inverse_dynamics(const double q[6], const double v[6], const double a[6],
                                         const double payload[4], const double gravity[3],
                                         const double *forces, int count, double torques[6]);
/* ---- the world (docs/virtual-controller.md, "The world") ----------------------- */

/* The changes below return 0, or -1 with the reason in `why` (cut to size-1
 * bytes; may be null), which names the field that is wrong, or the file and
 * its line; a refused change leaves the world as it was. zsim_reset returns
 * to the scene the process started with (ZSIM_SCENE's, or the floor),
 * forgets every base and gives every arm its body. */

/* Places the arm of the controller at `address` (now, or once it is made):
 * pose holds x, y, z (mm, within 100000) and rx, ry, rz (rad) in the world
 * frame. Placed arms touch each other; arms never placed do not. */
ZSIM_PROBE_API int zsim_set_base(const char *address, const double *pose, char *why, int size);

/* With solid 0 the arm of `address` has no body (now, or once it is made):
 * it touches nothing and never stops for itself, as before the world
 * existed (for tests of motion alone); with anything else it has its body
 * again. */
ZSIM_PROBE_API int zsim_set_body(const char *address, int solid, char *why, int size);

/* Adds an object given in its JSON form, a name not in the scene yet:
 * {"name", "shape": "box", "pose": [6], "size": [3]}, {"name", "shape":
 * "cylinder", "pose": [6], "radius", "length"}, {"name", "shape": "sphere",
 * "centre": [3], "radius"} or {"name", "shape": "plane", "pose": [6]}. */
ZSIM_PROBE_API int zsim_scene_add(const char *object_json, char *why, int size);

/* Removes the object of that name ("floor" is the floor). */
ZSIM_PROBE_API int zsim_scene_remove(const char *name, char *why, int size);

/* Removes every object, the floor too. */
ZSIM_PROBE_API void zsim_scene_clear(void);

/* Replaces the whole scene by a JSON list of objects, or by the list in the
 * file at `path` (UTF-8), as ZSIM_SCENE names one. */
ZSIM_PROBE_API int zsim_scene_set(const char *scene_json, char *why, int size);
ZSIM_PROBE_API int zsim_scene_load(const char *path, char *why, int size);

/* The scene as a JSON list of objects, the placed bases as a JSON object
 * {address: pose}, and the contacts of the arm at `address` now as a JSON
 * list, each cut to size-1 bytes. Return the full length (-1 for an
 * unknown address). */
ZSIM_PROBE_API int zsim_scene(char *buf, int size);
ZSIM_PROBE_API int zsim_bases(char *buf, int size);
ZSIM_PROBE_API int zsim_contacts(const char *address, char *buf, int size);

/* The same fault, scheduled: due once `seconds` of simulated time have
 * passed (measured from now; the arm's cycles of motion count that time, so
 * in manual time it falls at the same point of a motion on every run), or
 * after `cycles` of the arm's 8 ms cycles of motion (counted only while it
 * moves: with the arm at rest, cycle `cycles` of its next motion; 0 stops it
 * before it has moved). A fault due while the arm rests falls when a call
 * next looks at the controller. Several may be scheduled; a shut down or a
 * reset forgets them. Returns 0, or non-zero as zsim_trigger_fault does and
 * for a negative or non-finite delay. */
ZSIM_PROBE_API int zsim_trigger_fault_after(const char *address, int code, double seconds);
ZSIM_PROBE_API int zsim_trigger_fault_after_cycles(const char *address, int code, int cycles);

/* Simulated time now, in seconds since the library was loaded: what moves the
 * arms (it runs at the time scale, stands still at scale 0 and in manual
 * time but for zsim_advance_time). -1 on failure. The one function here that
 * is no use of the probe (it starts no journal): a script's recorder reads it. */
ZSIM_PROBE_API double zsim_time(void);

/* The address `handle` was given out for (by create_handler, since the last
 * reset), whether the handle is still open or not, as NUL-terminated text cut
 * to size-1 bytes. Returns the address's full length, or -1 for a handle
 * never given out. */
ZSIM_PROBE_API int zsim_handle_address(int handle, char *buf, int size);

/* ---- files and settings ------------------------------------------------------- */

/* The folder the controller keeps its files in (ZSIM_HOME, else the per-user
 * default; docs/virtual-controller-files.md) as NUL-terminated text cut to
 * size-1 bytes. Returns the text's full length, or -1 on failure or when the
 * controller has no safe folder (zsim_home_problem says why). */
ZSIM_PROBE_API int zsim_home(char *buf, int size);

/* Why the controller has no safe folder for its files (its file operations
 * then give 23), as zsim_home writes its text; "" when it has one. */
ZSIM_PROBE_API int zsim_home_problem(char *buf, int size);

/* What the controller at `address` keeps and no library getter reports
 * (force control, link settings, payload, the recorder, the program, the
 * library's debug log) as one JSON object, cut to size-1 bytes. Returns the
 * full length, or -1 for an unknown address. */
ZSIM_PROBE_API int zsim_settings(const char *address, char *buf, int size);

/* ---- the live view (docs/virtual-controller.md) ----------------------------------- */

/* Serves the live view of every controller over HTTP at `host` and `port`
 * (0: a free port), from threads of the library, and writes its URL once to
 * standard error; or finds it already serving there (port 0 matches it). An
 * address other than loopback (127.0.0.0/8, localhost, ::1) needs
 * `allow_remote`. The URL, or why there is none, goes into buf, cut to
 * size-1 bytes. Returns 0 when serving, 1 for an address not allowed, 2 when
 * it cannot listen there, 3 when the view already serves another address,
 * -1 on failure. */
ZSIM_PROBE_API int zsim_serve_view(const char *host, int port, int allow_remote, char *buf, int size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZSIM_PROBE_H */
