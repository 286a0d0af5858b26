// Every declaration against the C library: its types against the header as
// the C++ compiler sees it, and one call of each kind of parameter (widths,
// signs, outputs, arrays, structs, strings, callbacks) against the same call
// made from C on the simulated board (RVX_SIM="boards=2 board0.modules=15").
// What the library does with the calls its own tests pin.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using static Rvx406a.Tests.Calls;

namespace Rvx406a.Tests
{
    static class DeclarationTests
    {
        public static IEnumerable<KeyValuePair<string, Action>> All()
        {
            return new Dictionary<string, Action>
            {
                ["declarations carry the header's types"] = TypesMatchTheHeader,
                ["every export is declared"] = EveryExportIsDeclared,
                ["boards load"] = Load,
                ["setters and getters round trip both ways"] = RoundTrips,
                ["outputs, strings and texts"] = Getters,
                ["multi-axis arrays"] = MultiAxis,
                ["continuous table through the segment struct"] = ContinuousTable,
                ["callback from the watcher thread"] = Callback,
                ["window messages"] = WindowMessages,
                ["boards unload"] = Unload,
            }.ToList();  // in the order written
        }

        const ushort B = 0;

        // ---- Types ----

        // The managed side of a type, in the codes of rvxref_signature.
        static string Code(Type t, ParameterInfo p)
        {
            if (t == typeof(void))
                return "v";
            if (t.IsByRef)
                return (p.IsOut ? "p:" : "c:") + Code(t.GetElementType(), null);
            if (t.IsArray)
                return (p.IsDefined(typeof(OutAttribute), false) ? "p:" : "c:") + Code(t.GetElementType(), null);
            if (t == typeof(string))
                return "c:ch";
            if (t == typeof(IntPtr))
                return "ptr";
            if (t == typeof(UIntPtr))
                return "u8";
            if (typeof(Delegate).IsAssignableFrom(t))
            {
                MethodInfo invoke = t.GetMethod("Invoke");
                return "fn(" + string.Join(",", new[] { Code(invoke.ReturnType, null) }
                    .Concat(invoke.GetParameters().Select(q => Code(q.ParameterType, q)))) + ")";
            }
            if (t.IsPrimitive)
                return (t == typeof(sbyte) || t == typeof(short) || t == typeof(int) || t == typeof(long) ? "i" : "u") +
                       Marshal.SizeOf(t);
            return "s" + Marshal.SizeOf(t);
        }

        static string Signature(MethodInfo m) =>
            string.Join(";", new[] { Code(m.ReturnType, m.ReturnParameter) }
                .Concat(m.GetParameters().Select(p => Code(p.ParameterType, p))));

        // IntPtr stands for void*, char* and intptr_t, all pointer-sized.
        static bool Matches(string managed, string native)
        {
            string[] a = managed.Split(';', ',', '(', ')'), b = native.Split(';', ',', '(', ')');
            return a.Length == b.Length && a.Zip(b, (x, y) =>
                x == y || x == "ptr" && (y == "p:v" || y == "p:ch" || y == "i8")).All(ok => ok);
        }

        static void TypesMatchTheHeader()
        {
            var declarations = Declarations().ToList();
            Assert.Equal(192, declarations.Select(m => m.Name).Distinct().Count(n => n.StartsWith("RVX406A_")),
                         "RVX406A_ exports declared");
            var wrong = new List<string>();
            foreach (MethodInfo m in declarations)
            {
                string managed = Signature(m), native = Calls.Signature(m.Name) ?? "not in the header";
                // The callback overload: the header's void* is an RVX406A_EVENT_CALLBACK.
                if (m.GetParameters().Any(p => p.ParameterType == typeof(RVX406A_EVENT_CALLBACK)))
                    native = native.Replace("p:v", Calls.Signature("RVX406A_EVENT_CALLBACK"));
                if (!Matches(managed, native))
                    wrong.Add(m.Name + ": declared " + managed + ", header " + native);
            }
            Assert.True(wrong.Count == 0, string.Join("\n", wrong));

            // Struct layouts as the compiler lays them out.
            foreach (var layout in new[]
                     {
                         new { Type = typeof(RVX406A_CONTI_SEGMENT), Of = (Func<int, long>)rvxref_layout_RVX406A_CONTI_SEGMENT },
                         new { Type = typeof(PosixMessages.RVX_MSG), Of = (Func<int, long>)rvxref_layout_RVX_MSG },
                     })
            {
                FieldInfo[] fields = layout.Type.GetFields();
                Assert.Equal(layout.Of(-1), (long)Marshal.SizeOf(layout.Type), layout.Type.Name + " size");
                for (int k = 0; k < fields.Length; ++k)
                    Assert.Equal(layout.Of(k), (long)Marshal.OffsetOf(layout.Type, fields[k].Name),
                                 layout.Type.Name + "." + fields[k].Name);
            }
            Assert.Equal(20, Marshal.SizeOf(typeof(RVX406A_CONTI_SEGMENT)), "segment size");

            // The result codes, each with the name the library gives it.
            foreach (ResultCode code in Enum.GetValues(typeof(ResultCode)))
            {
                string text = Native("RVX406A_GetErrorString", (int)code).Text;
                bool noText = code == ResultCode.ERR_BOARD_NUMBER || code == ResultCode.ERR_IP_MAP_NUMBER ||
                              code == ResultCode.ERR_IP_MAP_AXES;
                if (!noText)
                    Assert.Equal(code.ToString(), text, "text of " + (int)code);
            }
        }

        // The library's exported names, read from its dynamic symbol table.
        static void EveryExportIsDeclared()
        {
            string library = Environment.GetEnvironmentVariable("RVX_LIBRARY");
            var nm = new ProcessStartInfo("nm", "-D --defined-only \"" + library + "\"")
            {
                RedirectStandardOutput = true,
                UseShellExecute = false,
            };
            var exported = new SortedSet<string>();
            using (Process p = Process.Start(nm))
            {
                string line;
                while ((line = p.StandardOutput.ReadLine()) != null)
                {
                    string name = line.Split(' ').Last();
                    if (name.StartsWith("RVX406A_") || name.StartsWith("rvx_"))
                        exported.Add(name);
                }
                p.WaitForExit();
            }
            Assert.Sequence(exported, new SortedSet<string>(Declarations().Select(m => m.Name)),
                            "exports of " + library);
        }

        static void Load()
        {
            Outcome loaded = Same("RVX406A_LoadDevice");
            Assert.Equal(1L, loaded.Return, "highest board of two");
            Assert.Equal(0, loaded.LastResult, "LoadDevice");
        }

        // ---- Setters and getters ----

        static object[] Concat(object[] a, object[] b) => a.Concat(b).ToArray();
        static object[] Outs(int n) => Enumerable.Repeat(Calls.Out, n).ToArray();

        static long[] Read(string getter, object[] prefix, int outputs, bool managed)
        {
            object[] args = Concat(prefix, Outs(outputs));
            Outcome o = managed ? Managed(getter, args) : Same(getter, args);
            Assert.Equal(0, o.LastResult, getter);
            return outputs == 0 ? new[] { o.Return } : o.Outputs.Skip(prefix.Length).Select(x => x[0]).ToArray();
        }

        // Each value set through the declaration is read back from C and
        // through the getter's declaration; then each is set from C and read
        // through the declaration.
        static void RoundTrip(string setter, string getter, object[] prefix, int outputs, params object[][] values)
        {
            setter = "RVX406A_" + setter;
            getter = "RVX406A_" + getter;
            foreach (object[] v in values)
            {
                Outcome set = Managed(setter, Concat(prefix, v));
                Assert.Equal(0, set.LastResult, setter + "(" + string.Join(", ", v) + ")");
                Assert.Sequence(v.Select(ToLong), Read(getter, prefix, outputs, false), getter + " after " + setter);
            }
            foreach (object[] v in values.Reverse())
            {
                Assert.Equal(0, Native(setter, Concat(prefix, v)).LastResult, setter + " from C");
                Assert.Sequence(v.Select(ToLong), Read(getter, prefix, outputs, true), getter + " after C");
            }
        }

        static object[] V(params object[] values) => values;

        // One setter and getter pair for each shape of parameters: a flag, two
        // and three outputs, signed and unsigned extremes of each width, the
        // board alone, no board at all, and outputs of one, two and four bytes.
        static void RoundTrips()
        {
            object[] ba = { B, (ushort)1 }, b = { B }, none = { };
            RoundTrip("PutSvOn", "GetSvOn", ba, 0, V(1), V(0));
            RoundTrip("SetSvAlm", "GetSvAlm", ba, 2, V(1, 0), V(0, 1), V(0, 0));
            RoundTrip("SetSlmt", "GetSlmt", ba, 3, V(-5000, 5000, 0), V(1073741823, -1073741824, 1));
            RoundTrip("SetCounterRing", "GetCounterRing", ba, 3, V(1000u, 2000u, 0), V(1073741823u, 70000u, 1));
            RoundTrip("SetAccOffset", "GetAccOffset", ba, 0, V(-32768), V(32767), V(0));
            RoundTrip("SetPosSpeed", "GetPosSpeed", ba, 4, V(4000000u, 3999999u, 64000u, 63999u), V(1000u, 20000u, 20u, 20u));
            RoundTrip("SetCompTrgWidth", "GetCompTrgWidth", ba, 0, V(2147483647u), V(1u));
            RoundTrip("SetCommandPos", "GetCommandPos", ba, 0, V(-2147483647), V(2147483647), V(0));
            RoundTrip("SetEmergency", "GetEmergency", b, 0, V(0), V(1));
            RoundTrip("SetCompTrgMode", "GetCompTrgMode", b, 2, V(0, 0), V(1, 5));
            RoundTrip("SetBlockMode", "GetBlockMode", none, 0, V(0), V(1));
            RoundTrip("PutDOByte", "GetDOByte", V(B, 6), 1, V(0xA5), V(0));
            RoundTrip("PutDOWord", "GetDOWord", V(B, 3), 1, V(0xBEEF), V(0));
            RoundTrip("PutDODWord", "GetDODWord", V(B, 1), 1, V(0xDEADBEEFu), V(0u));
            // Each list ends on its first value, so the board's own defaults come back.
            Native("RVX406A_Reset", B);
        }

        // ---- Getters ----

        static void Getters()
        {
            Outcome info = Same("RVX406A_BoardInfo", B, Calls.Out, Calls.Out, Calls.Out, Calls.Out, Calls.Out);
            Assert.Sequence(new long[] { 196, 4, 64, 64 }, new[] { info[1], info[3], info[4], info[5] }, "BoardInfo");
            Assert.Equal("ERR_AXIS_DRV_BUSY", Same("RVX406A_GetErrorString", -546).Text, "text of -546");
            string library = Environment.GetEnvironmentVariable("RVX_LIBRARY");
            Assert.Equal(0, Same("RVX406A_GetDllVersion", library).LastResult, "GetDllVersion");
        }

        // ---- Motion ----

        static void WaitIdle(params ushort[] axes)
        {
            var clock = Stopwatch.StartNew();
            while (axes.Any(a => Native("RVX406A_Done", B, a).Return != 0))
            {
                Assert.True(clock.Elapsed < TimeSpan.FromSeconds(20), "axes still drive");
                Thread.Sleep(2);
            }
        }

        static long[] Positions(params ushort[] axes) =>
            axes.Select(a => Native("RVX406A_GetCommandPos", B, a).Return).ToArray();

        static void Zero(params ushort[] axes)
        {
            foreach (ushort a in axes)
            {
                Native("RVX406A_SetCommandPos", B, a, 0);
                Native("RVX406A_SetActualPos", B, a, 0);
            }
        }

        // A motion call through the declaration and from C, each from
        // positions 0: both end where `expected` says.
        static void Moves(string name, object[] args, ushort[] axes, long[] expected)
        {
            foreach (bool managed in new[] { true, false })
            {
                Zero(axes);
                Outcome o = managed ? Managed(name, args) : Native(name, args);
                Assert.Equal(0, o.LastResult, name + (managed ? "" : " from C"));
                WaitIdle(axes);
                Assert.Sequence(expected, Positions(axes), name + (managed ? "" : " from C") + " ended at");
            }
        }

        static void Speeds(params ushort[] axes)
        {
            foreach (ushort a in axes)
            {
                Native("RVX406A_SetPosSpeed", B, a, 1000u, 400000u, 5u, 5u);
                Native("RVX406A_SetJogSpeed", B, a, 1000u, 100000u, 5u);
            }
        }

        static void MultiAxis()
        {
            Speeds(0, 1, 2, 3);
            Moves("RVX406A_Multi_Abs_Move", V(B, 4, new ushort[] { 2, 0, 3, 1 }, new[] { 100, -200, 300, -400 }),
                  new ushort[] { 2, 0, 3, 1 }, new long[] { 100, -200, 300, -400 });
            Assert.Equal(0L, Same("RVX406A_Multi_Done", B, 3, new ushort[] { 0, 2, 3 }).Return, "all idle");
            // The first failing axis in list order names the result: a wider
            // element than the header's would read other axes.
            Assert.Equal((int)ResultCode.ERR_AXIS_NUM,
                         Same("RVX406A_Multi_Inc_Move", B, 2, new ushort[] { 1, 9 }, new[] { 5, 5 }).LastResult,
                         "axis 9");
        }

        static RVX406A_CONTI_SEGMENT Segment(int end1, int end2, int center1, int center2, ushort type) =>
            new RVX406A_CONTI_SEGMENT { end1 = end1, end2 = end2, center1 = center1, center2 = center2, type = type };

        static void ContinuousTable()
        {
            Assert.Equal(1L, Same("RVX406A_SetInitContiTable").Return, "SetInitContiTable");
            var segments = new[] { Segment(3000, 1500, 0, 0, 0), Segment(6000, 1500, 4500, 1500, 7) };
            Outcome filled = Same("RVX406A_SetContiDataTable", B, 2u, segments);
            Assert.Equal(0, filled.LastResult, "SetContiDataTable");
            // The type above 2 comes back as 2 in the caller's array, the rest unchanged.
            Assert.Sequence(new long[] { 3000, 1500, 0, 0, 0, 0, 6000, 1500, 4500, 1500, 2, 0 }, filled.Outputs[2],
                            "segments after the call");
            NativeMethods.RVX406A_SetContiDataTable(B, 2, segments);
            Assert.Equal((ushort)2, segments[1].type, "type written back into the managed array");
            Assert.Equal(1L, Same("RVX406A_SetFreeContiTable").Return, "SetFreeContiTable");
        }

        // ---- Events ----

        static void Callback()
        {
            var seen = new List<uint[]>();
            int testThread = Thread.CurrentThread.ManagedThreadId;
            bool otherThread = false;
            RVX406A_EVENT_CALLBACK callback = (board, kind) =>
            {
                lock (seen)
                {
                    seen.Add(new[] { board, kind });
                    otherThread |= Thread.CurrentThread.ManagedThreadId != testThread;
                }
            };
            Assert.Equal(0, Managed("RVX406A_SetEventHandler", B, 1, callback, 0u).LastResult, "SetEventHandler");
            Assert.Equal(0, Same("RVX406A_SetMotEventMask", B, 0, 7).LastResult, "SetMotEventMask");
            Assert.Equal(0, Same("RVX406A_SetEventEnable", B, 1).LastResult, "SetEventEnable");
            GC.Collect();  // the registered delegate must survive a collection

            Speeds(0);
            Native("RVX406A_Inc_Move", B, 0, 100);
            WaitIdle(0);
            Func<uint, bool> arrived = kind =>
            {
                var clock = Stopwatch.StartNew();
                while (clock.Elapsed < TimeSpan.FromSeconds(5))
                {
                    lock (seen)
                    {
                        if (seen.Any(e => e[1] == kind))
                            return true;
                    }
                    Thread.Sleep(2);
                }
                return false;
            };
            Assert.True(arrived(0), "motion event");
            Outcome motion = Managed("RVX406A_GetMotEventStatus", B, 3, Calls.Out);
            Assert.True(motion[2] != 0, "motion event latched");
            Assert.Equal(0L, Same("RVX406A_GetMotEventStatus", B, 0, Calls.Out)[2], "read and cleared");

            Managed("RVX406A_SetEventHandler", B, 1, IntPtr.Zero, 0u);

            lock (seen)
            {
                Assert.True(otherThread, "the callback ran on the watcher thread");
                Assert.True(seen.All(e => e[0] == 0), "board 0 in every event");
            }
            GC.KeepAlive(callback);
        }

        static void WindowMessages()
        {
            var dispatched = new List<long>();
            PosixMessages.RVX_WNDPROC proc = (hwnd, msg, wparam, lparam) =>
                dispatched.AddRange(new[] { hwnd.ToInt64(), msg, (long)wparam.ToUInt64(), lparam.ToInt64() });
            IntPtr window = new IntPtr(Managed("rvx_create_window", proc).Return);
            Assert.True(window != IntPtr.Zero, "window made");
            long w = window.ToInt64();

            Assert.Equal(0, Same("RVX406A_SetEventHandler", B, 0, window, 0x8001u).LastResult, "window message mode");
            Native("RVX406A_Inc_Move", B, 0, 100);
            WaitIdle(0);
            Outcome got = Managed("rvx_get_message", Calls.Out, 5000u);
            Assert.Equal(1L, got.Return, "a message arrived");
            Assert.Sequence(new long[] { w, 0x8001, 0, 0 }, got.Outputs[0], "the notification");
            Managed("RVX406A_GetMotEventStatus", B, 0, Calls.Out);

            var message = new PosixMessages.RVX_MSG
            {
                hwnd = window,
                message = 0x8002,
                wparam = new UIntPtr(0xFFFFFFFF01UL),
                lparam = new IntPtr(-7),
            };
            Same("rvx_dispatch_message", message);
            Assert.Sequence(new long[] { w, 0x8002, 0xFFFFFFFF01, -7, w, 0x8002, 0xFFFFFFFF01, -7 }, dispatched,
                            "dispatched from C# and from C");

            foreach (bool managed in new[] { true, false })
            {
                object[] post = { window, 0x8003u, new UIntPtr(42), new IntPtr(-123456789012) };
                Assert.Equal(1L, (managed ? Managed("rvx_post_message", post) : Native("rvx_post_message", post)).Return,
                             "posted");
                got = managed ? Native("rvx_get_message", Calls.Out, 1000u) : Managed("rvx_get_message", Calls.Out, 1000u);
                Assert.Sequence(new long[] { w, 0x8003, 42, -123456789012 }, got.Outputs[0],
                                "posted " + (managed ? "from C#" : "from C"));
            }
            Managed("rvx_post_quit_message", 3);
            got = Managed("rvx_get_message", Calls.Out, 1000u);
            Assert.Equal((long)PosixMessages.RVX_WM_QUIT, got.Outputs[0][1], "quit");
            Same("rvx_destroy_window", window);
            Assert.Equal(0L, Managed("rvx_post_message", window, 0x8004u, UIntPtr.Zero, IntPtr.Zero).Return,
                         "no window after rvx_destroy_window");
            Managed("RVX406A_SetEventHandler", B, 1, IntPtr.Zero, 0u);
            GC.KeepAlive(proc);
        }

        static void Unload()
        {
            Assert.Equal(0, Managed("RVX406A_UnloadDevice").LastResult, "UnloadDevice");
            Assert.Equal((int)ResultCode.ERR_INVALID_HANDLE, Native("RVX406A_GetCommandPos", B, 0).LastResult,
                         "unloaded");
        }
    }
}
