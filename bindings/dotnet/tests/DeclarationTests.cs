// Every declaration against the C library: its types against the header as
// the C++ compiler sees it, and each call against the same call made from C
// on the simulated board (RVX_SIM="boards=2 board0.modules=15").
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
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
                ["status and information getters"] = Getters,
                ["entry points without behaviour leave the last result"] = NoOps,
                ["housekeeping: reset, defaults, file, log"] = Housekeeping,
                ["single-axis moves, waits and stops"] = SingleAxis,
                ["multi-axis arrays"] = MultiAxis,
                ["home searches and overrides"] = HomeAndOverride,
                ["interpolation"] = Interpolation,
                ["continuous table through the segment struct"] = ContinuousTable,
                ["compare trigger"] = CompareTrigger,
                ["callback from the watcher thread"] = Callback,
                ["window messages"] = WindowMessages,
                ["boards unload"] = Unload,
                ["every declaration was called"] = EveryDeclarationWasCalled,
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

        static void RoundTrips()
        {
            object[] ba = { B, (ushort)1 }, b = { B }, none = { };
            RoundTrip("PutSvOn", "GetSvOn", ba, 0, V(1), V(0));
            RoundTrip("PutSvAlmRst", "GetSvAlmRst", ba, 0, V(1), V(0));
            RoundTrip("SetSvAlm", "GetSvAlm", ba, 2, V(1, 0), V(0, 1), V(0, 0));
            RoundTrip("SetSvInpos", "GetSvInpos", ba, 2, V(1, 1), V(0, 1), V(0, 0));
            RoundTrip("SetHlmt", "GetHlmt", ba, 2, V(1, 1), V(0, 1), V(0, 0));
            RoundTrip("SetOrg", "GetOrg", ba, 0, V(1), V(0));
            RoundTrip("SetEncoderZ", "GetEncoderZ", ba, 0, V(1), V(0));
            RoundTrip("SetSvCClr", "GetSvCClr", ba, 2, V(1, 1), V(1, 0));
            RoundTrip("SetSvCClrTime", "GetSvCClrTime", ba, 0, V(7), V(0));
            RoundTrip("SetRangeMode", "GetRangeMode", ba, 0, V(500), V(37), V(1));
            RoundTrip("SetPulseMode", "GetPulseMode", ba, 0, V(5), V(0));
            RoundTrip("SetPulseDir", "GetPulseDir", ba, 0, V(1), V(0));
            RoundTrip("SetEncoderMode", "GetEncoderMode", ba, 0, V(3), V(0));
            RoundTrip("SetEncoderDir", "GetEncoderDir", ba, 0, V(1), V(0));
            RoundTrip("SetSlmt", "GetSlmt", ba, 3, V(-5000, 5000, 0), V(1073741823, -1073741824, 1));
            RoundTrip("SetCounterRing", "GetCounterRing", ba, 3, V(1000u, 2000u, 0), V(1073741823u, 70000u, 1));
            RoundTrip("SetFilterTime", "GetFilterTime", ba, 0, V(7), V(3));
            RoundTrip("SetFilterSensor", "GetFilterSensor", ba, 0, V(0), V(1));
            RoundTrip("SetFilterEncoderZ", "GetFilterEncoderZ", ba, 0, V(1), V(0));
            RoundTrip("SetFilterSvIF", "GetFilterSvIF", ba, 0, V(0), V(1));
            RoundTrip("SetFilterStop", "GetFilterStop", ba, 0, V(1), V(0));
            RoundTrip("SetFilterExt", "GetFilterExt", ba, 0, V(1), V(0));
            RoundTrip("SetCompCountMode", "GetCompCountMode", ba, 0, V(1), V(0));
            RoundTrip("SetSpeedMode", "GetSpeedMode", ba, 0, V(1), V(0));
            RoundTrip("SetPosSpeed", "GetPosSpeed", ba, 4, V(4000000u, 3999999u, 64000u, 63999u), V(1000u, 20000u, 20u, 20u));
            RoundTrip("SetJogSpeed", "GetJogSpeed", ba, 3, V(70000u, 4000000u, 64000u), V(100u, 5000u, 10u));
            RoundTrip("SetAccOffset", "GetAccOffset", ba, 0, V(-32768), V(32767), V(0));
            RoundTrip("SetHomeDir", "GetHomeDir", ba, 0, V(0), V(1));
            RoundTrip("SetHomeMode", "GetHomeMode", ba, 0, V(9), V(2));
            RoundTrip("SetHomeSpeed", "GetHomeSpeed", ba, 3, V(70000u, 4000000u, 64000u), V(500u, 10000u, 100u));
            RoundTrip("SetHomeOffset", "GetHomeOffset", ba, 0, V(-268435455), V(268435455), V(0));
            RoundTrip("SetHomeSuccess", "GetHomeSuccess", ba, 0, V(1), V(0));
            RoundTrip("SetCompTrgWidth", "GetCompTrgWidth", ba, 0, V(2147483647u), V(1u));
            RoundTrip("SetFixedRange", "GetFixedRange", ba, 0, V(1), V(0));
            RoundTrip("SetExtMode", "GetExtMode", ba, 2, V(0, 1), V(1, 10000));
            RoundTrip("SetCommandPos", "GetCommandPos", ba, 0, V(-2147483647), V(2147483647), V(0));
            RoundTrip("SetActualPos", "GetActualPos", ba, 0, V(-2147483647), V(2147483647), V(0));
            RoundTrip("PutSvRun", "GetSvRun", ba, 0, V(1), V(0));
            RoundTrip("SetEmergency", "GetEmergency", b, 0, V(0), V(1));
            RoundTrip("SetDiFilter", "GetDiFilter", b, 0, V(0), V(1));
            RoundTrip("SetDiFilterTime", "GetDiFilterTime", b, 0, V(15), V(10));
            RoundTrip("SetCompTrgMode", "GetCompTrgMode", b, 2, V(0, 0), V(1, 5));
            RoundTrip("SetBlockMode", "GetBlockMode", none, 0, V(0), V(1));
            RoundTrip("PutDOBit", "GetDOBit", V(B, 37), 0, V(1), V(0));
            RoundTrip("PutDOByte", "GetDOByte", V(B, 6), 1, V(0xA5), V(0));
            RoundTrip("PutDOWord", "GetDOWord", V(B, 3), 1, V(0xBEEF), V(0));
            RoundTrip("PutDODWord", "GetDODWord", V(B, 1), 1, V(0xDEADBEEFu), V(0u));
            Assert.Equal(0, Same("RVX406A_SetIPMapAxes", B, 1, 0x0A).LastResult, "SetIPMapAxes");
            RoundTrip("SetIPPosSpeed", "GetIPPosSpeed", V(B, 1), 4, V(70000u, 4000000u, 64000u, 63999u), V(100u, 20000u, 10u, 10u));

            // One output double word read back in every width.
            Managed("RVX406A_PutDODWord", B, 0, 0x80F1E2D3u);
            Assert.Equal(0xE2L, Same("RVX406A_GetDOByte", B, 1, Calls.Out)[2], "byte 1");
            Assert.Equal(0x80F1L, Same("RVX406A_GetDOWord", B, 1, Calls.Out)[2], "word 1");
            Assert.Equal(1L, Same("RVX406A_GetDOBit", B, 31).Return, "bit 31");
            Managed("RVX406A_PutDODWord", B, 0, 0u);
            // Each list ends on its first value, so the board's own defaults come back.
            Native("RVX406A_Reset", B);
        }

        // ---- Getters ----

        static void Rvxctl(string options)
        {
            var start = new ProcessStartInfo(Environment.GetEnvironmentVariable("RVX_CTL"),
                                             "--sim " + options + " status")
            {
                RedirectStandardOutput = true,
                UseShellExecute = false,
            };
            using (Process p = Process.Start(start))
            {
                p.StandardOutput.ReadToEnd();
                p.WaitForExit();
                Assert.Equal(0, p.ExitCode, "rvxctl " + options);
            }
        }

        static readonly string[] AxisGetters =
        {
            "GetCardStatus", "GetMainStatus", "GetDrvStatus", "GetErrStatus", "GetInputStatus", "GetEventStatus",
            "GetCommandSpeed", "GetMotionErrCod", "GetMotionDir", "GetSyncMode", "HomeIsBusy", "Done",
        };

        static void SameAxisGetters(ushort axis, string what, params string[] nonzero)
        {
            bool idle = !nonzero.Contains("Done");  // positions move while the axis drives
            foreach (string g in AxisGetters.Concat(idle ? new[] { "GetCommandPos", "GetActualPos" } : new string[0]))
            {
                Outcome o = Same("RVX406A_" + g, B, axis);
                if (nonzero.Contains(g))
                    Assert.True(o.Return != 0, g + " " + what + " reads 0");
            }
        }

        static void Getters()
        {
            // Inputs, stop cause and position set in the simulator.
            Rvxctl("--sim-inputs=0:2:0x52 --sim-errors=0:2:0x10 --sim-position=0:2:-1200");
            try
            {
                SameAxisGetters(2, "with inputs", "GetCardStatus", "GetErrStatus", "GetInputStatus",
                                "GetMotionErrCod", "GetCommandPos", "GetActualPos");
                Assert.Equal((long)ResultCode.ERR_STOP_BY_ALM, Same("RVX406A_GetMotionErrCod", B, 2).Return, "alarm");
                Assert.Equal(-1200L, Same("RVX406A_GetActualPos", B, 2).Return, "actual position");
            }
            finally
            {
                Rvxctl("--sim-inputs=0:2:0 --sim-errors=0:2:0");
            }

            // While a jog drives at constant speed.
            Managed("RVX406A_SetJogSpeed", B, 2, 400000u, 400000u, 1u);
            Managed("RVX406A_Jog_Move", B, 2, 1);
            SameAxisGetters(2, "while driving", "GetCardStatus", "GetMainStatus", "GetCommandSpeed",
                            "Done", "HomeIsBusy");
            Assert.Equal(400000L, Managed("RVX406A_GetCommandSpeed", B, 2).Return, "jog speed");
            Native("RVX406A_Sudden_Stop", B, 2);
            WaitIdle(2);

            foreach (string g in new[] { "GetBoardID", "GetAxisNum", "GetDiNum", "GetDoNum", "GetEmergency" })
                Same("RVX406A_" + g, B);
            Assert.Equal(64L, Same("RVX406A_GetDiNum", B).Return, "DI of four modules");
            Outcome info = Same("RVX406A_BoardInfo", B, Calls.Out, Calls.Out, Calls.Out, Calls.Out, Calls.Out);
            Assert.Sequence(new long[] { 196, 4, 64, 64 }, new[] { info[1], info[3], info[4], info[5] }, "BoardInfo");
            Assert.Equal((long)ResultCode.ERR_BOARD_NUMBER, Same("RVX406A_GetAxisNum", (ushort)7).LastResult, "board 7");

            // Inputs of modules 1 and 4 (the register is active low).
            Rvxctl("--sim-di=0:1:0xFF7E --sim-di=0:4:0x7FFF");
            try
            {
                Assert.Equal(1L, Same("RVX406A_GetDIBit", B, 7).Return, "input 7");
                Assert.Equal(1L, Same("RVX406A_GetDIBit", B, 63).Return, "input 63");
                Assert.Equal(0x81L, Same("RVX406A_GetDIByte", B, 0, Calls.Out)[2], "input byte 0");
                Assert.Equal(0x8000L, Same("RVX406A_GetDIWord", B, 3, Calls.Out)[2], "input word 3");
                Assert.Equal(0x80000000L, Same("RVX406A_GetDIDWord", B, 1, Calls.Out)[2], "input double word 1");
            }
            finally
            {
                Rvxctl("--sim-di=0:1:0xFFFF --sim-di=0:4:0xFFFF");
            }

            Assert.Equal("ERR_AXIS_DRV_BUSY", Same("RVX406A_GetErrorString", -546).Text, "text of -546");
            string library = Environment.GetEnvironmentVariable("RVX_LIBRARY");
            Assert.Equal(0, Same("RVX406A_GetDllVersion", library).LastResult, "GetDllVersion");
            Same("RVX406A_GetDllVersion", "/no/such/file.dll");
        }

        // ---- Entry points that run no frame ----

        static void NoOps()
        {
            Managed("RVX406A_SetBlockMode", 2);  // leaves ERR_INVALID_PARAMETER
            var calls = new[]
            {
                V("UnloadDeviceEx", B), V("PutINSTB", B), V("PutOTSTB", B), V("SetINSTB", B),
                V("SetEnableEvent", B, 1, 1), V("SetIpExtPulse", B, 1, 1), V("PutDO", B, 0xFFFFFFFFu),
                V("SetFilterDI", B, 1), V("Ext_Abs_Move", B, 1, 100), V("Ext_Inc_Move", B, 1, 100),
                V("Ext_Jog_Move", B, 1), V("Mpg_Abs_Move", B, 1, 100), V("Mpg_Inc_Move", B, 1, 100),
                V("Mpg_Jog_Move", B, 1), V("Const_Move", B, 1), V("GetEnableEvent", B, 1), V("GetDI", B),
                V("GetDO", B), V("GetFilterDI", B), V("GetCurContiNum"), V("GetErrorCode"),
                V("LoadDeviceEx", B),
            };
            foreach (object[] call in calls)
            {
                string name = "RVX406A_" + call[0];
                Outcome o = Same(name, call.Skip(1).ToArray());
                Assert.Equal((int)ResultCode.ERR_INVALID_PARAMETER, o.LastResult, name + " kept the last result");
                long expected = name.EndsWith("LoadDeviceEx") ? (long)ResultCode.ERR_CREATE_KERNEL_DRIVER_FAIL
                    : name.EndsWith("GetErrorCode") ? (long)ResultCode.ERR_INVALID_PARAMETER : 0;
                Assert.Equal(expected, o.Return, name + " returned");
            }
        }

        static void Housekeeping()
        {
            Managed("RVX406A_SetRangeMode", (ushort)1, 0, 77);
            Assert.Equal(0, Managed("RVX406A_Reset", (ushort)1).LastResult, "Reset");
            Assert.True(Same("RVX406A_GetRangeMode", (ushort)1, 0).Return != 77, "range back to its default");
            Managed("RVX406A_SetRangeMode", B, 3, 77);
            Assert.Equal(0, Same("RVX406A_SetSystemDefault", B, 3).LastResult, "SetSystemDefault");
            Assert.True(Same("RVX406A_GetRangeMode", B, 3).Return != 77, "range of axis 3 back to its default");

            string install = Environment.GetEnvironmentVariable("RVX_INSTALL_DIR");
            string file = Path.Combine(install, "Parameter", "RVXPRM1.DAT");
            if (File.Exists(file))
            {
                File.SetAttributes(file, FileAttributes.Normal);
                File.Delete(file);
            }
            Assert.Equal(0, Managed("RVX406A_SaveFile", (ushort)1).LastResult, "SaveFile");
            Assert.True(File.Exists(file), file + " written");

            foreach (string old in Directory.GetFiles(Path.Combine(install, "Debug"), "logfile_*.log"))
                File.Delete(old);
            Assert.Equal(0, Same("RVX406A_LogCheck", 3).LastResult, "LogCheck 3");
            Managed("RVX406A_SetSyncMode", B, 1, 0x5, 0x3FF, 0x2AA);
            Native("RVX406A_SetSyncMode", B, 1, 0x5, 0x3FF, 0x2AA);
            Managed("RVX406A_LogCheck", 0);
            string log = Directory.GetFiles(Path.Combine(install, "Debug"), "logfile_*.log")
                .Select(File.ReadAllText).Aggregate("", (a, c) => a + c);
            string[] lines = log.Split('\n').Where(l => l.Contains("RVX406A_SetSyncMode")).ToArray();
            Assert.Equal(2, lines.Length, "SetSyncMode lines");
            Assert.Equal(lines[0].Substring(lines[0].IndexOf(" RV =")), lines[1].Substring(lines[1].IndexOf(" RV =")),
                         "SetSyncMode as the library logged it");
            Assert.True(lines[0].EndsWith("RVX406A_SetSyncMode (0, 1, 5, 1023, 682)\r"), lines[0]);

            Assert.Equal(1L, Same("RVX406A_GetSyncMode", B, 1).Return, "GetSyncMode");
            Assert.Equal(0, Same("RVX406A_PutSvCClrCmd", B, 1).LastResult, "PutSvCClrCmd");
            Native("RVX406A_Reset", B);  // no synchronous action stays armed
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

        static void SingleAxis()
        {
            Speeds(0, 1, 2, 3);
            Moves("RVX406A_Inc_Move", V(B, 3, -4321), new ushort[] { 3 }, new long[] { -4321 });
            Moves("RVX406A_Abs_Move", V(B, 2, 6789), new ushort[] { 2 }, new long[] { 6789 });

            Zero(1);
            Managed("RVX406A_Jog_Move", B, 1, 0);  // negative
            Thread.Sleep(20);
            Assert.True(Positions(1)[0] < 0, "jog 0 runs negative");
            Assert.Equal(0, Managed("RVX406A_Decel_Stop", B, 1).LastResult, "Decel_Stop");
            Managed("RVX406A_Wait", B, 1, 0);
            Assert.Equal(0L, Native("RVX406A_Done", B, 1).Return, "idle after Wait");

            Managed("RVX406A_Jog_Move", B, 1, 1);
            Thread.Sleep(5);
            Assert.Equal(1L, Same("RVX406A_Done", B, 1).Return, "jog drives");
            Assert.Equal(0, Managed("RVX406A_Sudden_Stop", B, 1).LastResult, "Sudden_Stop");
            WaitIdle(1);
            Assert.Equal((int)ResultCode.ERR_INVALID_PARAMETER, Same("RVX406A_Wait", B, 1, 2).LastResult, "Wait mode 2");
        }

        static void MultiAxis()
        {
            Speeds(0, 1, 2, 3);
            Moves("RVX406A_Multi_Inc_Move", V(B, 2, new ushort[] { 3, 1 }, new[] { -1500, 2500 }),
                  new ushort[] { 3, 1 }, new long[] { -1500, 2500 });
            Moves("RVX406A_Multi_Abs_Move", V(B, 4, new ushort[] { 2, 0, 3, 1 }, new[] { 100, -200, 300, -400 }),
                  new ushort[] { 2, 0, 3, 1 }, new long[] { 100, -200, 300, -400 });
            Assert.Equal(0L, Same("RVX406A_Multi_Done", B, 3, new ushort[] { 0, 2, 3 }).Return, "all idle");
            // The first failing axis in list order names the result: a wider
            // element than the header's would read other axes.
            Assert.Equal((int)ResultCode.ERR_AXIS_NUM,
                         Same("RVX406A_Multi_Inc_Move", B, 2, new ushort[] { 1, 9 }, new[] { 5, 5 }).LastResult,
                         "axis 9");
            Assert.Equal((int)ResultCode.ERR_INVALID_PARAMETER,
                         Same("RVX406A_Multi_Inc_Move", B, 2, new ushort[] { 1, 2 }, new[] { 5, 268435456 }).LastResult,
                         "second distance out of range");

            Zero(1, 2);
            Managed("RVX406A_Multi_Jog_Move", B, 2, new ushort[] { 1, 2 }, new ushort[] { 1, 0 });
            Thread.Sleep(20);
            Assert.Equal(1L, Same("RVX406A_Multi_Done", B, 2, new ushort[] { 2, 1 }).Return, "jogs drive");
            long[] at = Positions(1, 2);
            Assert.True(at[0] > 0 && at[1] < 0, "axis 1 runs positive, axis 2 negative: " + string.Join(",", at));
            Assert.Equal(0, Managed("RVX406A_Multi_Decel_Stop", B, 2, new ushort[] { 1, 2 }).LastResult, "Multi_Decel_Stop");
            Managed("RVX406A_Multi_Wait", B, 2, new ushort[] { 2, 1 }, 0);
            Assert.Equal(0L, Native("RVX406A_Multi_Done", B, 2, new ushort[] { 1, 2 }).Return, "idle after Multi_Wait");

            Native("RVX406A_Multi_Jog_Move", B, 2, new ushort[] { 0, 3 }, new ushort[] { 0, 1 });
            Thread.Sleep(5);
            Assert.Equal(0, Managed("RVX406A_Multi_Sudden_Stop", B, 2, new ushort[] { 3, 0 }).LastResult,
                         "Multi_Sudden_Stop");
            WaitIdle(0, 3);
        }

        static void HomeAndOverride()
        {
            Speeds(0, 1, 2, 3);
            foreach (ushort a in new ushort[] { 0, 1, 2, 3 })
            {
                Native("RVX406A_SetHomeMode", B, a, 9);  // the offset drive only
                Native("RVX406A_SetHomeOffset", B, a, 300);
                Native("RVX406A_SetHomeSpeed", B, a, 1000u, 200000u, 5u);
            }
            // The search ends with HOME_OK on exactly the axes it was given.
            foreach (bool managed in new[] { true, false })
            {
                foreach (ushort a in new ushort[] { 0, 1, 2, 3 })
                    Native("RVX406A_SetHomeSuccess", B, a, 0);
                Outcome started = managed ? Managed("RVX406A_Home_Move", B, 2) : Native("RVX406A_Home_Move", B, 2);
                Assert.Equal(0, started.LastResult, "Home_Move");
                var clock = Stopwatch.StartNew();
                while (Native("RVX406A_HomeIsBusy", B, 2).Return != 0)
                    Assert.True(clock.Elapsed < TimeSpan.FromSeconds(10), "home search ends");
                Assert.Equal(0L, Same("RVX406A_HomeIsBusy", B, 2).Return, "idle");
                Assert.Sequence(new long[] { 0, 0, 1, 0 }, HomeSuccess(), "after Home_Move of axis 2");

                foreach (ushort a in new ushort[] { 0, 1, 2, 3 })
                    Native("RVX406A_SetHomeSuccess", B, a, 0);
                started = managed ? Managed("RVX406A_Multi_Home_Move", B, 2, new ushort[] { 3, 0 })
                    : Native("RVX406A_Multi_Home_Move", B, 2, new ushort[] { 3, 0 });
                Assert.Equal(0, started.LastResult, "Multi_Home_Move");
                clock.Restart();
                while (Native("RVX406A_HomeIsBusy", B, 0).Return != 0 || Native("RVX406A_HomeIsBusy", B, 3).Return != 0)
                    Assert.True(clock.Elapsed < TimeSpan.FromSeconds(10), "home searches end");
                Assert.Sequence(new long[] { 1, 0, 0, 1 }, HomeSuccess(), "after Multi_Home_Move of axes 3 and 0");
            }

            // Overrides: refused while idle, in the order the checks come.
            Assert.Equal((int)ResultCode.ERR_MAX_WORKV, Same("RVX406A_OverrideSpeed", B, 1, 4000001u).LastResult, "4000001");
            Assert.Equal((int)ResultCode.ERR_AXIS_STEADY, Same("RVX406A_OverrideSpeed", B, 1, 70000u).LastResult, "idle");
            Assert.Equal((int)ResultCode.ERR_INVALID_PARAMETER,
                         Same("RVX406A_Inc_OverrideMove", B, 1, -268435456).LastResult, "-268435456");
            Assert.Equal((int)ResultCode.ERR_INVALID_PARAMETER,
                         Same("RVX406A_Abs_OverrideMove", B, 1, int.MinValue).LastResult, "int.MinValue");

            Native("RVX406A_SetPosSpeed", B, 1, 20000u, 20000u, 1u, 1u);
            Zero(1);
            Managed("RVX406A_Inc_Move", B, 1, -100000);
            // The new length first: at 20000 PPS the axis needs 150 ms to reach it.
            Assert.Equal(0, Managed("RVX406A_Inc_OverrideMove", B, 1, 3000).LastResult, "Inc_OverrideMove");
            Assert.Equal(0, Managed("RVX406A_OverrideSpeed", B, 1, 70000u).LastResult, "OverrideSpeed while driving");
            WaitIdle(1);
            Assert.Sequence(new long[] { -3000 }, Positions(1), "the new length, in the move's direction");

            Zero(1);
            Managed("RVX406A_Abs_Move", B, 1, 100000);
            Assert.Equal(0, Managed("RVX406A_Abs_OverrideMove", B, 1, 4000).LastResult, "Abs_OverrideMove");
            WaitIdle(1);
            Assert.Sequence(new long[] { 4000 }, Positions(1), "the new target");
        }

        static long[] HomeSuccess() =>
            new ushort[] { 0, 1, 2, 3 }.Select(a => Same("RVX406A_GetHomeSuccess", B, a).Return).ToArray();

        static void WaitMap(ushort map)
        {
            var clock = Stopwatch.StartNew();
            while (Native("RVX406A_IPDone", B, map).Return != 0)
                Assert.True(clock.Elapsed < TimeSpan.FromSeconds(20), "interpolation ends");
            Assert.Equal(0L, Same("RVX406A_IPDone", B, map).Return, "IPDone");
        }

        static void Interpolation()
        {
            Native("RVX406A_SetIPMapAxes", B, 1, 0x0A);  // axes 1 and 3
            Native("RVX406A_SetIPPosSpeed", B, 1, 1000u, 200000u, 5u, 5u);
            ushort[] group = { 1, 3 };
            var cases = new[]
            {
                V("RVX406A_Inc_Line", V(B, 1, new[] { 1200, -800 }), new long[] { 1200, -800 }),
                V("RVX406A_Abs_Line", V(B, 1, new[] { -300, 900 }), new long[] { -300, 900 }),
                V("RVX406A_Inc_Arc", V(B, 1, 500, 0, 1000, 0, 0), new long[] { 1000, 0 }),
                V("RVX406A_Abs_Arc", V(B, 1, 0, 500, 0, 1000, 1), new long[] { 0, 1000 }),
                V("RVX406A_Inc_Theta", V(B, 1, 0, -400, 180), new long[] { 0, -800 }),
                V("RVX406A_Abs_Theta", V(B, 1, 300, 0, -180), new long[] { 600, 0 }),
            };
            foreach (object[] c in cases)
            {
                foreach (bool managed in new[] { true, false })
                {
                    Zero(group);
                    string name = (string)c[0];
                    Outcome o = managed ? Managed(name, (object[])c[1]) : Native(name, (object[])c[1]);
                    Assert.Equal(0, o.LastResult, name);
                    WaitMap(1);
                    Assert.Sequence((long[])c[2], Positions(group), name + (managed ? "" : " from C") + " ended at");
                }
            }

            foreach (string stop in new[] { "RVX406A_IPDecel_Stop", "RVX406A_IPSudden_Stop" })
            {
                Zero(group);
                Native("RVX406A_Inc_Line", B, 1, new[] { 200000000, 100000000 });
                Thread.Sleep(5);
                Assert.Equal(0, Managed(stop, B, 1).LastResult, stop);
                Assert.Equal(0L, Native("RVX406A_IPDone", B, 1).Return, "stopped when " + stop + " returns");
                long[] at = Positions(group);
                Assert.True(at[0] > 0 && at[0] < 200000000 && Math.Abs(2 * at[1] - at[0]) <= 2, stop + " stopped on the line at " +
                            string.Join(",", at));
            }
        }

        static RVX406A_CONTI_SEGMENT Segment(int end1, int end2, int center1, int center2, ushort type) =>
            new RVX406A_CONTI_SEGMENT { end1 = end1, end2 = end2, center1 = center1, center2 = center2, type = type };

        static void ContinuousTable()
        {
            Assert.Equal(1L, Same("RVX406A_SetInitContiTable").Return, "SetInitContiTable");
            Zero(0, 1);
            var segments = new[] { Segment(3000, 1500, 0, 0, 0), Segment(6000, 1500, 4500, 1500, 7) };
            Outcome filled = Same("RVX406A_SetContiDataTable", B, 2u, segments);
            Assert.Equal(0, filled.LastResult, "SetContiDataTable");
            // The type above 2 comes back as 2 in the caller's array, the rest unchanged.
            Assert.Sequence(new long[] { 3000, 1500, 0, 0, 0, 0, 6000, 1500, 4500, 1500, 2, 0 }, filled.Outputs[2],
                            "segments after the call");
            NativeMethods.RVX406A_SetContiDataTable(B, 2, segments);
            Called.Add("RVX406A_SetContiDataTable");
            Assert.Equal((ushort)2, segments[1].type, "type written back into the managed array");
            Assert.Equal((int)ResultCode.ERR_BUF_DATA_OVERFLOW,
                         Same("RVX406A_SetContiDataTable", B, 256u, new RVX406A_CONTI_SEGMENT[1]).LastResult, "256");
            Assert.Equal(0L, Same("RVX406A_GetCurContiNum").Return, "not handed over yet");

            // Segment 0 follows a running line on the group of axes 0 and 1.
            Native("RVX406A_SetIPMapAxes", B, 2, 0x03);
            Native("RVX406A_SetIPPosSpeed", B, 2, 1000u, 100000u, 5u, 5u);
            Native("RVX406A_Inc_Line", B, 2, new[] { 2000, 1000 });
            Managed("RVX406A_Conti_Move", B, 2);
            Assert.Equal(2L, Same("RVX406A_GetCurContiNum").Return, "segments once handed over");
            WaitIdle(0, 1);
            Assert.Sequence(new long[] { 5000, 2500 }, Positions(0, 1), "the line, then segment 0");
            Assert.Equal(1L, Same("RVX406A_SetFreeContiTable").Return, "SetFreeContiTable");
        }

        static void CompareTrigger()
        {
            var cases = new[]
            {
                V("SetCompTrgWidth", V(B, 2, 10u), 0),
                V("SetCompTrgMode", V(B, 1, 2), 0),
                V("SetInitCompTrg", V(B), 0),
                V("SetCompTrgOneData", V(B, 2, 1073741813), 0),
                V("SetCompTrgOneData", V(B, 2, 1073741814), ResultCode.ERR_MAX_DISTANCE),
                V("SetCompTrgOneData", V(B, 2, -1073741825), ResultCode.ERR_INVALID_PARAMETER),
                V("SetCompTrgTable", V(B, 2, 3, new[] { 100, 200, 300 }), 0),
                V("SetCompTrgTable", V(B, 2, 3, new[] { 100, int.MinValue, 300 }), ResultCode.ERR_INVALID_PARAMETER),
                V("SetCompTrgTable", V(B, 2, 256, new int[256]), ResultCode.ERR_INVALID_PARAMETER),
                V("SetCompTrgContTable", V(B, 2, 5, -1073741824, 1073741824), 0),
                V("SetCompTrgContTable", V(B, 2, 5, 0, 1073741825), ResultCode.ERR_INVALID_PARAMETER),
                V("SetFreeCompTrg", V(B), 0),
                V("SetCompTrgMode", V(B, 0, 0), 0),
            };
            foreach (object[] c in cases)
                Assert.Equal(Convert.ToInt32(c[2]), Same("RVX406A_" + c[0], (object[])c[1]).LastResult,
                             c[0] + "(" + string.Join(", ", (object[])c[1]) + ")");
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
            Assert.Equal(0, Same("RVX406A_SetDiEventMask", B, 0xFFFFFFFFu, 0x80000001u).LastResult, "SetDiEventMask");
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

            Rvxctl("--sim-di=0:1:0xFFFE --sim-di=0:3:0xFFFE --sim-di=0:4:0x7FFF");
            try
            {
                Assert.True(arrived(1), "input event");
                Outcome inputs = Managed("RVX406A_GetDiEventStatus", B, Calls.Out, Calls.Out);
                Assert.Sequence(new long[] { 0x1, 0x80000001 }, new[] { inputs[1], inputs[2] }, "inputs 0, 32 and 63");
                Outcome cleared = Same("RVX406A_GetDiEventStatus", B, Calls.Out, Calls.Out);
                Assert.Sequence(new long[] { 0, 0 }, new[] { cleared[1], cleared[2] }, "read and cleared");
            }
            finally
            {
                Rvxctl("--sim-di=0:1:0xFFFF --sim-di=0:3:0xFFFF --sim-di=0:4:0xFFFF");
                Managed("RVX406A_SetEventHandler", B, 1, IntPtr.Zero, 0u);
            }

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

        static void EveryDeclarationWasCalled()
        {
            var missing = Declarations().Select(m => m.Name).Distinct().Where(n => !Called.Contains(n)).ToList();
            Assert.True(missing.Count == 0, "never called: " + string.Join(", ", missing));
        }
    }
}
