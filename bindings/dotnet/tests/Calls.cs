// One call made twice: through its C# declaration and from C (rvxref, the
// reference calls the generator writes), with the same arguments. An
// argument is a number, an array, a string, an IntPtr, an array of segments,
// or Out for an output; a delegate goes through the declaration alone.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Rvx406a.Tests
{
    sealed class OutMarker
    {
        public override string ToString() => "out";
    }

    /// <summary>What a call gave: its return value, every output or array
    /// after the call (null for a scalar input) and the last result.</summary>
    sealed class Outcome
    {
        public long Return;
        public long[][] Outputs;
        public int LastResult;
        public string Text;  // a returned string

        public long this[int parameter] => Outputs[parameter][0];

        public override string ToString() =>
            "return " + Return + ", last result " + LastResult + ", outputs [" +
            string.Join("; ", Outputs.Where(o => o != null).Select(o => string.Join(",", o.Take(12)))) + "]";
    }

    static class Calls
    {
        public static readonly object Out = new OutMarker();
        const int Slots = 2048;

        [DllImport("rvxref", CallingConvention = CallingConvention.Cdecl)]
        static extern long rvxref_call(string name, long[] input, [Out] long[] output, string text);

        [DllImport("rvxref", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr rvxref_signature(string name);

        [DllImport("rvxref", CallingConvention = CallingConvention.Cdecl)]
        public static extern long rvxref_layout_RVX406A_CONTI_SEGMENT(int field);

        [DllImport("rvxref", CallingConvention = CallingConvention.Cdecl)]
        public static extern long rvxref_layout_RVX_MSG(int field);

        /// <summary>The header's types of an export or callback type as the C++ compiler sees them.</summary>
        public static string Signature(string name) => Marshal.PtrToStringAnsi(rvxref_signature(name));

        public static IEnumerable<MethodInfo> Declarations() =>
            typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Concat(typeof(PosixMessages).GetMethods(BindingFlags.Public | BindingFlags.Static))
                .Where(m => m.GetCustomAttributes(typeof(DllImportAttribute), false).Length > 0);

        static MethodInfo Find(string name, object[] args)
        {
            var candidates = Declarations().Where(m => m.Name == name && m.GetParameters().Length == args.Length)
                .ToList();
            if (candidates.Count == 0)
                throw new TestFailure("no declaration " + name + " with " + args.Length + " parameters");
            // The delegate overload for a delegate argument, the IntPtr one otherwise.
            return candidates.FirstOrDefault(m => m.GetParameters().Select((p, i) => new { p, i }).All(
                       x => !(args[x.i] is Delegate) || typeof(Delegate).IsAssignableFrom(x.p.ParameterType))
                       && m.GetParameters().Select((p, i) => new { p, i }).All(
                       x => args[x.i] is Delegate || !typeof(Delegate).IsAssignableFrom(x.p.ParameterType)))
                   ?? candidates[0];
        }

        // An output starts with every bit set, so that a declared output
        // wider than what the library writes shows the bits it left.
        static object Filled(Type t)
        {
            if (t == typeof(IntPtr))
                return new IntPtr(-1);
            if (t == typeof(UIntPtr))
                return new UIntPtr(ulong.MaxValue);
            if (!t.IsPrimitive)
                return Activator.CreateInstance(t);
            if (t == typeof(sbyte) || t == typeof(short) || t == typeof(int) || t == typeof(long))
                return Convert.ChangeType(-1L, t);
            return Convert.ChangeType(ulong.MaxValue >> (64 - 8 * Marshal.SizeOf(t)), t);
        }

        public static long ToLong(object value)
        {
            if (value == null)
                return 0;
            if (value is IntPtr)
                return ((IntPtr)value).ToInt64();
            if (value is UIntPtr)
                return (long)((UIntPtr)value).ToUInt64();
            return Convert.ToInt64(value);
        }

        static long[] Fields(RVX406A_CONTI_SEGMENT s) =>
            new long[] { s.end1, s.end2, s.center1, s.center2, s.type, s.reserved };

        static long[] Flatten(object value)
        {
            var segments = value as RVX406A_CONTI_SEGMENT[];
            if (segments != null)
                return segments.SelectMany(Fields).ToArray();
            if (value is PosixMessages.RVX_MSG)
            {
                var m = (PosixMessages.RVX_MSG)value;
                return new[] { m.hwnd.ToInt64(), m.message, (long)m.wparam.ToUInt64(), m.lparam.ToInt64() };
            }
            var array = value as Array;
            if (array != null)
                return array.Cast<object>().Select(ToLong).ToArray();
            return new[] { ToLong(value) };
        }

        /// <summary>The call through the C# declaration.</summary>
        public static Outcome Managed(string name, params object[] args)
        {
            MethodInfo method = Find(name, args);
            ParameterInfo[] parameters = method.GetParameters();
            var call = new object[args.Length];
            for (int i = 0; i < args.Length; ++i)
            {
                Type t = parameters[i].ParameterType;
                if (t.IsByRef && parameters[i].IsOut)
                    call[i] = Filled(t.GetElementType());
                else if (t.IsArray && t.GetElementType().IsPrimitive)
                {
                    var source = (Array)args[i];
                    Array converted = Array.CreateInstance(t.GetElementType(), source.Length);
                    for (int k = 0; k < source.Length; ++k)
                        converted.SetValue(Convert.ChangeType(source.GetValue(k), t.GetElementType()), k);
                    call[i] = converted;
                }
                else if (t.IsPrimitive)
                    call[i] = Convert.ChangeType(args[i], t);
                else if (args[i] is Array)
                    call[i] = ((Array)args[i]).Clone();  // the C call gets the caller's values too
                else
                    call[i] = args[i];
            }
            object returned = method.Invoke(null, call);
            var outcome = new Outcome
            {
                Return = returned is IntPtr && method.ReturnType == typeof(IntPtr) && name.EndsWith("ErrorString")
                    ? 0 : ToLong(returned),
                Outputs = new long[args.Length][],
                LastResult = NativeMethods.RVX406A_GetErrorCode(),
            };
            if (name.EndsWith("ErrorString"))
                outcome.Text = Marshal.PtrToStringAnsi((IntPtr)returned);
            for (int i = 0; i < args.Length; ++i)
            {
                Type t = parameters[i].ParameterType;
                if (t.IsByRef || t.IsArray)
                    outcome.Outputs[i] = Flatten(call[i]);
            }
            return outcome;
        }

        /// <summary>The same call from C.</summary>
        public static Outcome Native(string name, params object[] args)
        {
            var input = new long[Math.Max(1, args.Length) * Slots];
            var output = new long[input.Length];
            string text = null;
            for (int i = 0; i < args.Length; ++i)
            {
                object a = args[i];
                if (a == Out)
                    continue;
                if (a is string)
                    text = (string)a;
                else
                    Array.Copy(Flatten(a), 0, input, i * Slots, Flatten(a).Length);
            }
            long returned = rvxref_call(name, input, output, text);
            if (returned == long.MinValue)
                throw new TestFailure("no reference call " + name);
            var outcome = new Outcome
            {
                Return = returned,
                Outputs = new long[args.Length][],
                LastResult = NativeMethods.RVX406A_GetErrorCode(),
            };
            if (name.EndsWith("ErrorString"))
            {
                outcome.Text = Marshal.PtrToStringAnsi(new IntPtr(returned));
                outcome.Return = 0;
            }
            ParameterInfo[] parameters = Find(name, args).GetParameters();
            for (int i = 0; i < args.Length; ++i)
            {
                object a = args[i];
                Type type = parameters[i].ParameterType.IsByRef ? parameters[i].ParameterType.GetElementType() : null;
                int length = a is Array || a is PosixMessages.RVX_MSG ? Flatten(a).Length
                    : a != Out ? 0 : type.IsPrimitive ? 1 : type.GetFields().Length;
                if (length > 0)
                    outcome.Outputs[i] = output.Skip(i * Slots).Take(length).ToArray();
            }
            return outcome;
        }

        /// <summary>Both calls, one after the other; they must give the same.</summary>
        public static Outcome Same(string name, params object[] args)
        {
            Outcome managed = Managed(name, args);
            Outcome native = Native(name, args);
            Equal(native, managed, name + "(" + string.Join(", ", args) + ")");
            return managed;
        }

        public static void Equal(Outcome expected, Outcome actual, string what)
        {
            Assert.Equal(expected.Return, actual.Return, what + " returned");
            Assert.Equal(expected.LastResult, actual.LastResult, what + " left");
            Assert.Equal(expected.Text, actual.Text, what + " text");
            for (int i = 0; i < expected.Outputs.Length; ++i)
            {
                if (expected.Outputs[i] != null)
                    Assert.Sequence(expected.Outputs[i], actual.Outputs[i], what + " output " + i);
            }
        }
    }
}
