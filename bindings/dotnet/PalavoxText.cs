// Palavox.Text: the three text services of Palavox.dll for .NET, over the C
// interface. .NET strings are UTF-16 already, so they are pinned and passed
// as they are, lone surrogates and NULs included; nothing is converted.
using System;
using System.Runtime.InteropServices;

namespace Palavox
{
    /// <summary>A failed call: <see cref="Number"/> is the error number Palavox.dll raises
    /// (13, 5, 6), 7 when memory runs out, or 51 for a fault of Palavox's own; the constants
    /// here name them as palavox.h does.</summary>
    public class PalavoxException : Exception
    {
        /// <summary>5, "Invalid procedure call or argument".</summary>
        public const int InvalidArgument = 5;
        /// <summary>6, "Overflow": a count past 2,147,483,647.</summary>
        public const int Overflow = 6;
        /// <summary>7, "Out of memory".</summary>
        public const int OutOfMemory = 7;
        /// <summary>13, "Type mismatch": FindString on an empty text.</summary>
        public const int TypeMismatch = 13;
        /// <summary>51, "Internal error": a fault of Palavox's own, never the caller's.</summary>
        public const int InternalError = 51;

        public PalavoxException(int number, string message) : base(message)
        {
            Number = number;
            // What a COM client of Palavox.dll sees: MAKE_HRESULT(1, FACILITY_CONTROL, n),
            // and E_OUTOFMEMORY when memory runs out.
            HResult = number == OutOfMemory ? unchecked((int)0x8007000E)
                                            : unchecked((int)0x800A0000) | number;
        }

        public int Number { get; }
    }

    /// <summary>TrataHTML, FindString and RemoverAcentuacao with the results of Palavox.dll.
    /// A null string is the empty text, as it is for Palavox.dll.</summary>
    public static class PalavoxText
    {
        /// <summary>Wraps every web link ("http" in any case, up to the next CR, space or "|")
        /// in an anchor opening in <paramref name="target"/> ("_self" when empty). Escapes
        /// nothing: HTML-encode user text first.</summary>
        public static unsafe string TrataHTML(string entrada, string target = null)
        {
            IntPtr resultado;
            UIntPtr length;
            int status;
            fixed (char* e = entrada)
            fixed (char* t = target)
            {
                status = Native.TrataHtml(e, Length(entrada), t, Length(target), out resultado, out length);
            }
            return Result(status, resultado, length, entrada);
        }

        /// <summary>Non-overlapping occurrences of <paramref name="procura"/>, ignoring case
        /// unless <paramref name="tipo"/> is exactly "B" or "b"; -1 for an empty search text.
        /// An empty <paramref name="entrada"/> throws <see cref="PalavoxException"/>
        /// <see cref="PalavoxException.TypeMismatch"/> (13).</summary>
        public static unsafe int FindString(string entrada, string procura, string tipo = null)
        {
            int count;
            int status;
            fixed (char* e = entrada)
            fixed (char* p = procura)
            fixed (char* t = tipo)
            {
                status = Native.FindString(e, Length(entrada), p, Length(procura), t, Length(tipo), out count);
            }
            if (status != 0) throw Failure(status);
            return count;
        }

        /// <summary>Folds accented vowels and ç to plain letters, "&amp;" to "e", and a fixed set
        /// of symbols to spaces.</summary>
        public static unsafe string RemoverAcentuacao(string texto)
        {
            // A short text (a name, a title) folds into the stack, the result
            // being as long as the text: one call, nothing allocated by the library.
            if (texto != null && texto.Length <= ShortText)
            {
                int n = texto.Length;
                char* folded = stackalloc char[n == 0 ? 1 : n];
                int rc;
                fixed (char* t = texto)
                {
                    rc = Native.RemoverAcentuacaoInto(t, Length(texto), folded);
                    if (rc == 0 && Same(folded, t, n)) return texto;
                }
                if (rc != 0) throw Failure(rc);
                return new string(folded, 0, n);
            }
            IntPtr resultado;
            UIntPtr length;
            int status;
            fixed (char* t = texto)
            {
                status = Native.RemoverAcentuacao(t, Length(texto), out resultado, out length);
            }
            return Result(status, resultado, length, texto);
        }

        const int ShortText = 256;

        static UIntPtr Length(string s)
        {
            return new UIntPtr(s == null ? 0u : (uint)s.Length);
        }

        // The result as a string: the argument itself when the core gave back
        // its units unchanged (strings are immutable), which saves a copy.
        static unsafe string Result(int status, IntPtr resultado, UIntPtr length, string source)
        {
            if (status != 0) throw Failure(status);
            try
            {
                // A .NET string holds at most int.MaxValue units: longer is out of memory.
                if (length.ToUInt64() > int.MaxValue) throw Failure(PalavoxException.OutOfMemory);
                int n = (int)length.ToUInt64();
                char* units = (char*)resultado;
                if (source != null && source.Length == n)
                {
                    fixed (char* s = source)
                    {
                        if (Same(units, s, n)) return source;
                    }
                }
                return new string(units, 0, n);
            }
            finally
            {
                Native.Free(resultado);
            }
        }

        static unsafe bool Same(char* a, char* b, int n)
        {
            int i = 0;
            for (; i + 4 <= n; i += 4)
                if (*(long*)(a + i) != *(long*)(b + i)) return false;
            for (; i < n; i++)
                if (a[i] != b[i]) return false;
            return true;
        }

        static PalavoxException Failure(int number)
        {
            return new PalavoxException(number, Marshal.PtrToStringAnsi(Native.ErrorDescription(number)));
        }
    }

    // The C library is libpalavox.so (.dylib) everywhere but Windows, where it is
    // palavox_c.dll: "palavox.dll" would be the automation server Palavox.dll, since
    // Windows file names ignore case. A DllImport name is a constant, hence two sets.
    static unsafe class Native
    {
        static readonly bool Windows = Environment.OSVersion.Platform == PlatformID.Win32NT;

        public static int TrataHtml(char* e, UIntPtr el, char* t, UIntPtr tl, out IntPtr r, out UIntPtr rl)
        {
            return Windows ? C.palavox_trata_html(e, el, t, tl, out r, out rl)
                           : Elf.palavox_trata_html(e, el, t, tl, out r, out rl);
        }

        public static int FindString(char* e, UIntPtr el, char* p, UIntPtr pl, char* t, UIntPtr tl, out int r)
        {
            return Windows ? C.palavox_find_string(e, el, p, pl, t, tl, out r)
                           : Elf.palavox_find_string(e, el, p, pl, t, tl, out r);
        }

        public static int RemoverAcentuacao(char* t, UIntPtr tl, out IntPtr r, out UIntPtr rl)
        {
            return Windows ? C.palavox_remover_acentuacao(t, tl, out r, out rl)
                           : Elf.palavox_remover_acentuacao(t, tl, out r, out rl);
        }

        public static int RemoverAcentuacaoInto(char* t, UIntPtr tl, char* r)
        {
            return Windows ? C.palavox_remover_acentuacao_into(t, tl, r)
                           : Elf.palavox_remover_acentuacao_into(t, tl, r);
        }

        public static void Free(IntPtr p)
        {
            if (Windows) C.palavox_free(p); else Elf.palavox_free(p);
        }

        public static IntPtr ErrorDescription(int number)
        {
            return Windows ? C.palavox_error_description(number) : Elf.palavox_error_description(number);
        }

        // cdecl: what the header declares on 32-bit Windows, and the only convention elsewhere.
        static class Elf
        {
            const string Library = "palavox";

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_trata_html(char* entrada, UIntPtr entradaLen, char* target,
                UIntPtr targetLen, out IntPtr resultado, out UIntPtr resultadoLen);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_find_string(char* entrada, UIntPtr entradaLen, char* procura,
                UIntPtr procuraLen, char* tipo, UIntPtr tipoLen, out int resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_remover_acentuacao(char* texto, UIntPtr textoLen,
                out IntPtr resultado, out UIntPtr resultadoLen);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_remover_acentuacao_into(char* texto, UIntPtr textoLen,
                char* resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern void palavox_free(IntPtr resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern IntPtr palavox_error_description(int number);
        }

        static class C
        {
            const string Library = "palavox_c";

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_trata_html(char* entrada, UIntPtr entradaLen, char* target,
                UIntPtr targetLen, out IntPtr resultado, out UIntPtr resultadoLen);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_find_string(char* entrada, UIntPtr entradaLen, char* procura,
                UIntPtr procuraLen, char* tipo, UIntPtr tipoLen, out int resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_remover_acentuacao(char* texto, UIntPtr textoLen,
                out IntPtr resultado, out UIntPtr resultadoLen);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern int palavox_remover_acentuacao_into(char* texto, UIntPtr textoLen,
                char* resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern void palavox_free(IntPtr resultado);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            public static extern IntPtr palavox_error_description(int number);
        }
    }
}
