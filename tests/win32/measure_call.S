/* int32_t measure_call(void* fn, const uint32_t* args, int32_t count, uint64_t* result)
 * Pushes count 32-bit arguments (args[0] last, so it is on top), calls fn,
 * stores EDX:EAX in *result and returns how many bytes of the pushed
 * arguments the callee removed from the stack: 0 for cdecl, all of them for
 * stdcall. The stack is put back either way. */
    .text
    .globl _measure_call
_measure_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  movl %esp, %edi
    movl 8(%ebp), %eax
    call *%eax
    movl 20(%ebp), %ecx
    movl %eax, (%ecx)
    movl %edx, 4(%ecx)
    movl %esp, %eax
    subl %edi, %eax
    leal -12(%ebp), %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
