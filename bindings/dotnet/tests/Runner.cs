// A plain test runner: runs the tests in the order given, prints each
// failure and "N passed, M failed", and exits 1 on any failure.
using System;
using System.Collections.Generic;
using System.Linq;

namespace Rvx406a.Tests
{
    class TestFailure : Exception
    {
        public TestFailure(string message) : base(message) { }
    }

    static class Assert
    {
        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new TestFailure(what + ": expected " + expected + ", got " + actual);
        }

        public static void Sequence<T>(IEnumerable<T> expected, IEnumerable<T> actual, string what)
        {
            if (!expected.SequenceEqual(actual))
                throw new TestFailure(what + ": expected [" + string.Join(", ", expected) + "], got [" +
                                      string.Join(", ", actual) + "]");
        }

        public static void True(bool condition, string what)
        {
            if (!condition)
                throw new TestFailure(what);
        }

        public static TException Throws<TException>(Action action, string what) where TException : Exception
        {
            try
            {
                action();
            }
            catch (TException e)
            {
                return e;
            }
            throw new TestFailure(what + ": no " + typeof(TException).Name);
        }
    }

    static class Runner
    {
        static int Main()
        {
            var tests = new List<KeyValuePair<string, Action>>();
            tests.AddRange(DeclarationTests.All());
            tests.AddRange(LayerTests.All());
            // RVX_TESTS=a,b runs the tests whose names contain a or b.
            string only = Environment.GetEnvironmentVariable("RVX_TESTS");
            if (!string.IsNullOrEmpty(only))
                tests = tests.Where(t => only.Split(',').Any(t.Key.Contains)).ToList();
            int passed = 0, failed = 0;
            foreach (var test in tests)
            {
                try
                {
                    test.Value();
                    ++passed;
                    Console.WriteLine("ok   " + test.Key);
                }
                catch (Exception e)
                {
                    ++failed;
                    Exception shown = e is System.Reflection.TargetInvocationException && e.InnerException != null
                        ? e.InnerException : e;
                    Console.WriteLine("FAIL " + test.Key + ": " +
                                      (shown is TestFailure ? shown.Message : shown.ToString()));
                }
            }
            Console.WriteLine(passed + " passed, " + failed + " failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
